// Opening a one-hour index-only recording (about 300,000 records) from the page cache,
// against a walk of the same record headers with a plain 64 KiB buffered pread reader.

#include "RecordingFormat.h"
#include "RecordingWriter.h"
#include "UnitReadMan.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// One hour at 25 frames/s with four talkers sending a packet every 60 ms, and a picture
// every 5 s: 90,000 + 240,000 + 720 records, about 330 MB.
const std::string& HourRecording()
{
    static const std::string path = [] {
        const char* dir = std::getenv("QRV_BENCH_DIR");
        std::string file = (std::filesystem::path(dir ? dir : "/tmp") / "qrv-bench-hour.crd").string();
        if (std::filesystem::exists(file))
            return file;
        qrv::RecordingHeader header;
        header.HeaderMagic = qrv::HeaderMagicValue;
        header.HeaderVersion = 2;
        header.VideoWidth = 640;
        header.VideoHeight = 480;
        header.StartTime = 45000.5;
        header.NonZero40 = header.NonZero44 = header.RecordedSize = 1;
        header.TrailerMagic = qrv::TrailerMagicValue;
        qrv::tools::RecordingWriter writer(file + ".part", header);
        std::vector<uint8_t> key(9000, 0x11), delta(2300, 0x22), packet(226, 0x33), picture(9000, 0x44);
        for (uint32_t ms = 0; ms < 3'600'000; ms += 20) {
            if (ms % 40 == 0) {
                qrv::FrameHeader frame{ms / 40, 640, 0, 480, 0, static_cast<uint8_t>(ms % 2000 == 0)};
                writer.AddFrame(qrv::TRecordType::rtVideo, ms, frame, frame.FrameFlag ? key : delta);
            }
            if (ms % 60 == 0)
                for (uint8_t channel = 1; channel <= 4; ++channel)
                    writer.AddAudio(ms, channel, packet);
            if (ms % 5000 == 0)
                writer.AddFrame(qrv::TRecordType::rtPicture, ms, qrv::FrameHeader{0, 320, 0, 240, 0, 1}, picture);
        }
        writer.Finish();
        std::filesystem::rename(file + ".part", file);
        return file;
    }();
    return path;
}

void BM_OpenScan(benchmark::State& state)
{
    qrv::TReadMan reader;
    for (auto _ : state) {
        reader.Open(HourRecording());
        benchmark::DoNotOptimize(reader.Count());
    }
    state.counters["records"] = reader.Count();
}

// The baseline: every record header read through a 64 KiB buffer refilled with pread.
void BM_BufferedPreadWalk(benchmark::State& state)
{
    const int fd = open(HourRecording().c_str(), O_RDONLY);
    struct stat info {};
    fstat(fd, &info);
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    std::vector<uint8_t> buffer(64 * 1024);
    int64_t records = 0;
    for (auto _ : state) {
        records = 0;
        uint64_t next = qrv::RecordingHeaderSize, start = 0, length = 0;
        while (next + qrv::RecordHeaderSize <= size) {
            if (next < start || next + qrv::RecordHeaderSize > start + length) {
                start = next;
                length = static_cast<uint64_t>(pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(start)));
            }
            const auto header = qrv::ParseRecordHeader(
                std::span<const uint8_t, qrv::RecordHeaderSize>(buffer.data() + (next - start), qrv::RecordHeaderSize));
            if (header.SyncWord != qrv::RecordSyncWord)
                break;
            ++records;
            next += qrv::RecordHeaderSize + header.BodySize;
        }
        benchmark::DoNotOptimize(records);
    }
    close(fd);
    state.counters["records"] = static_cast<double>(records);
}

} // namespace

BENCHMARK(BM_BufferedPreadWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BufferedPreadWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenScan)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
