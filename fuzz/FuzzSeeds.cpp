// Writes the seed corpus for fuzz_recording into the folder given: recordings with real
// H.264 frames, a JPEG picture, audio packets, and the broken endings the reader tolerates.

#include "H264Encoder.h"
#include "JpegWriter.h"
#include "RecordingFixture.h"

#include <cstdio>
#include <filesystem>

using qrv::test::RecordingFixture;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: fuzz_seeds FOLDER\n", stderr);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);

    // A small clip: key frame, two delta frames, pictures shown and hidden, two talkers.
    auto encoder = qrv::tools::H264Encoder::Create(64, 48, 25, 3);
    qrv::TBitmap24 picture(64, 48);
    RecordingFixture clip;
    clip.Header.VideoWidth = 64;
    clip.Header.VideoHeight = 48;
    for (int n = 0; n < 4; ++n) {
        std::fill_n(picture.Bits(), picture.SizeBytes(), static_cast<uint8_t>(40 * n));
        const auto frame = encoder->Encode(picture);
        clip.AddVideo(40, frame.KeyFrame ? 1 : 0, 64, 48, frame.Payload);
        clip.AddAudio(20, static_cast<uint8_t>(1 + n % 2), {0xF1, 3, 3, 0, 1, 0, 40, 0, 0, 0, 1, 1, 0, 0, 0, 0, 2, 0xAB, 0xCD});
    }
    qrv::TBitmap24 slide(32, 24);
    std::fill_n(slide.Bits(), slide.SizeBytes(), uint8_t{200});
    const auto jpeg = qrv::tools::EncodeJpeg(slide, 80);
    clip.AddPicture(10, 1, 32, 24, jpeg);
    clip.AddPicture(10, 0, 32, 24, jpeg);
    clip.WriteTo(folder / "clip.crd");

    RecordingFixture cut = clip;
    cut.CutLast(100);
    cut.WriteTo(folder / "cut.crd");

    RecordingFixture garbage = clip;
    garbage.AddGarbage(64);
    garbage.WriteTo(folder / "garbage.crd");

    RecordingFixture audioOnly;
    audioOnly.Header.RecordingType = 2;
    audioOnly.AddRecord(7, 5, {1, 2, 3});
    audioOnly.AddAudio(5, 0, {});
    audioOnly.WriteTo(folder / "audio-only.crd");

    RecordingFixture().WriteTo(folder / "header-only.crd");
    return 0;
}
