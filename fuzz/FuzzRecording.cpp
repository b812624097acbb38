// Opens arbitrary bytes as a recording, then walks it as playback would: every index
// entry, every payload read and decode, the searches and the header read.

#include "UnitReadMan.h"

#include <cstdio>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr int32_t MaxRecordsWalked = 64; // keeps one input fast; the index itself is complete

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = memfd_create("fuzz.crd", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    qrv::RecordingHeader header;
    qrv::TReadMan::ReadHeader(path, header);

    static qrv::TReadMan reader; // one reader for the process, as the player keeps one
    if (reader.Open(path)) {
        const int32_t count = reader.Count();
        for (int32_t i = 0; i < count && i < MaxRecordsWalked; ++i) {
            qrv::TRecordInfoView view;
            reader.GetRecordInfo(i, view);
            reader.DecodeVideoFrame(i);
            reader.ReadPicture(i);
            reader.ReadAudioPayload(i);
            reader.FindVideoRecord(true, i);
            reader.FindVideoRecord(false, i);
        }
        try {
            reader.TotalTime();
            if (count > 0)
                reader.DecodeFromKeyFrame(std::min(count, MaxRecordsWalked) - 1);
        } catch (const qrv::EListOutOfRange&) {
        }
        reader.Close();
    }
    close(fd);
    return 0;
}
