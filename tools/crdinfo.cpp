// crdinfo: prints what a recording holds: its header and a summary of its records.
//
//   crdinfo FILE
//
// A file that is not a recording gets a one-line message on standard error and exit status 2.

#include "OleDateTime.h"
#include "RecordScanner.h"

#include <cinttypes>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace qrv;

std::string DateText(double value)
{
    const auto t = OleDateToCalendar(value);
    if (!t)
        return "(not a date)";
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t->Year, t->Month, t->Day, t->Hour,
                  t->Minute, t->Second, t->Millisecond);
    return text;
}

std::string PlayTimeText(uint64_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02" PRIu64 ":%02" PRIu64 ":%02" PRIu64 ".%03" PRIu64, ms / 3'600'000,
                  ms / 60'000 % 60, ms / 1000 % 60, ms % 1000);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: crdinfo FILE\n", stderr);
        return 2;
    }
    const char* path = argv[1];
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fprintf(stderr, "crdinfo: %s: cannot be read\n", path);
        return 2;
    }
    uint8_t bytes[RecordingHeaderSize];
    if (pread(fd, bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        std::fprintf(stderr, "crdinfo: %s: not a recording (shorter than its header)\n", path);
        return 2;
    }
    const RecordingHeader header = ParseRecordingHeader(bytes);
    if (const THeaderFault fault = FirstHeaderFault(header); fault != THeaderFault::None) {
        std::fprintf(stderr, "crdinfo: %s: not a recording (%s)\n", path, HeaderFaultText(fault));
        return 2;
    }

    std::map<uint8_t, uint64_t> countByType, bytesByType;
    std::set<uint8_t> channels;
    uint64_t keyFrames = 0, playTime = 0, records = 0;
    TRecordScanner scanner(fd, static_cast<uint64_t>(info.st_size));
    for (TScannedRecord r; scanner.Next(r);) {
        ++records;
        playTime += r.Header.TimeDelta;
        ++countByType[r.Header.RecordType];
        bytesByType[r.Header.RecordType] += r.Header.BodySize;
        if (r.Header.RecordType == static_cast<uint8_t>(TRecordType::rtAudio))
            channels.insert(r.AudioChannel);
        if (r.Header.RecordType == static_cast<uint8_t>(TRecordType::rtVideo) && IsKeyFrameFlag(r.Frame.FrameFlag))
            ++keyFrames;
    }
    close(fd);

    std::printf("file:           %s\n", path);
    std::printf("version:        %u\n", header.HeaderVersion);
    std::printf("recording type: %u\n", header.RecordingType);
    std::printf("video size:     %ux%u\n", header.VideoWidth, header.VideoHeight);
    std::printf("start:          %s\n", DateText(header.StartTime).c_str());
    std::printf("end:            %s\n", DateText(header.EndTime).c_str());
    std::printf("recorded size:  %u bytes\n", header.RecordedSize);
    std::printf("password:       %s\n", header.PasswordText.Length > 0 ? "set" : "none");
    std::printf("records:        %" PRIu64 " (video %" PRIu64 ", key frames %" PRIu64 ", audio %" PRIu64
                ", pictures %" PRIu64 ", other %" PRIu64 ")\n",
                records, countByType[2], keyFrames, countByType[1], countByType[3],
                records - countByType[1] - countByType[2] - countByType[3]);
    std::printf("channels:       %zu\n", channels.size());
    std::printf("total time:     %s\n", PlayTimeText(playTime).c_str());
    if (playTime > 0) {
        const double seconds = static_cast<double>(playTime) / 1000.0;
        std::printf("bit rates:      video %.0f kbit/s, audio %.0f kbit/s, pictures %.0f kbit/s\n",
                    static_cast<double>(bytesByType[2]) * 8 / 1000 / seconds,
                    static_cast<double>(bytesByType[1]) * 8 / 1000 / seconds,
                    static_cast<double>(bytesByType[3]) * 8 / 1000 / seconds);
    }
    return 0;
}
