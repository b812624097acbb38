// crdinfo: prints what a recording holds, as its index holds it.
//
//   crdinfo FILE                     a readable summary
//   crdinfo --json FILE              the same as one JSON object
//   crdinfo --json --records FILE    also every index entry
//
// A file that is not a recording gets a one-line message on standard error and exit
// status 2. The file is opened as the player opens it, so any header version is shown.

#include "HeaderTextCodec.h"
#include "OleDateTime.h"
#include "UnitReadMan.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <string_view>

namespace {

using namespace qrv;

struct Summary {
    uint32_t totalTime = 0;
    uint64_t countByType[4] = {};    // index 1..3 by record type
    uint64_t payloadByType[4] = {};
    std::set<uint8_t> channels;
};

Summary Summarise(const TReadMan& reader)
{
    Summary s;
    try {
        s.totalTime = reader.Count() > 0 ? reader.TotalTime() : 0;
    } catch (const EListOutOfRange&) {
    }
    for (int32_t i = 0; i < reader.Count(); ++i) {
        TRecordInfoView v;
        reader.GetRecordInfo(i, v);
        if (v.RecordType >= 1 && v.RecordType <= 3) {
            ++s.countByType[v.RecordType];
            s.payloadByType[v.RecordType] += v.PayloadSize;
        }
        if (v.RecordType == static_cast<uint8_t>(TRecordType::rtAudio))
            s.channels.insert(v.AudioChannel);
    }
    return s;
}

// A JSON string literal of UTF-8 text; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else {
            const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
            bool valid = length > 0 && c <= 0xF4 && i + length <= text.size();
            for (size_t k = 1; valid && k < length; ++k)
                valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
            if (valid) {
                out.append(text.substr(i, length));
                i += length;
            } else {
                out += "\xEF\xBF\xBD";
                ++i;
            }
        }
    }
    return out + "\"";
}

std::string JsonNumber(double value)
{
    if (!std::isfinite(value))
        return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string DateText(double value)
{
    const auto t = OleDateToCalendar(value);
    if (!t)
        return "(not a date)";
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t->Year, t->Month, t->Day, t->Hour, t->Minute,
                  t->Second);
    return text;
}

std::string PlayTimeText(uint32_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", ms / 3'600'000, ms / 60'000 % 60, ms / 1000 % 60,
                  ms % 1000);
    return text;
}

void PrintText(const char* path, const TReadMan& reader)
{
    const RecordingHeader& h = reader.Header();
    const Summary s = Summarise(reader);
    std::printf("file:           %s\n", path);
    std::printf("version:        %u\n", h.HeaderVersion);
    std::printf("recording type: %u\n", h.RecordingType);
    std::printf("video size:     %ux%u\n", h.VideoWidth, h.VideoHeight);
    std::printf("start:          %s\n", DateText(h.StartTime).c_str());
    std::printf("end:            %s\n", DateText(h.EndTime).c_str());
    std::printf("recorded size:  %u bytes\n", h.RecordedSize);
    std::printf("password:       %s\n", h.PasswordText.Length > 0 ? "set" : "none");
    std::printf("summary:        %s\n", DecodeSummary(h.SummaryText.Text()).c_str());
    std::printf("records:        %d (video %" PRIu64 ", key frames %d, audio %" PRIu64 ", pictures %" PRIu64 ")\n",
                reader.Count(), s.countByType[2], reader.KeyRecords().Count(), s.countByType[1], s.countByType[3]);
    std::printf("channels:       %zu\n", s.channels.size());
    std::printf("total time:     %s\n", PlayTimeText(s.totalTime).c_str());
    if (s.totalTime > 0) {
        const double seconds = s.totalTime / 1000.0;
        std::printf("bit rates:      video %.0f kbit/s, audio %.0f kbit/s, pictures %.0f kbit/s\n",
                    static_cast<double>(s.payloadByType[2]) * 8 / 1000 / seconds,
                    static_cast<double>(s.payloadByType[1]) * 8 / 1000 / seconds,
                    static_cast<double>(s.payloadByType[3]) * 8 / 1000 / seconds);
    }
}

void PrintJson(const TReadMan& reader, bool withRecords)
{
    const RecordingHeader& h = reader.Header();
    const Summary s = Summarise(reader);
    std::printf("{\"header\":{\"magic\":%s,\"version\":%u,\"recordingType\":%u,\"videoWidth\":%u,"
                "\"videoHeight\":%u,\"startTime\":%s,\"endTime\":%s,\"recordedSize\":%u,\"hasPassword\":%s,"
                "\"summary\":%s},",
                JsonString(std::string_view(h.HeaderMagic.data(), 4)).c_str(), h.HeaderVersion, h.RecordingType,
                h.VideoWidth, h.VideoHeight, JsonNumber(h.StartTime).c_str(), JsonNumber(h.EndTime).c_str(),
                h.RecordedSize, h.PasswordText.Length > 0 ? "true" : "false",
                JsonString(DecodeSummary(h.SummaryText.Text())).c_str());
    std::printf("\"count\":%d,\"totalTime\":%u,\"keyRecords\":[", reader.Count(), s.totalTime);
    const TKeyRecordInfoList& keys = reader.KeyRecords();
    for (int32_t i = 0; i < keys.Count(); ++i)
        std::printf("%s%u", i ? "," : "", static_cast<const TKeyRecordInfo*>(keys.GetItem(i))->RecordIndex);
    std::printf("]");
    if (withRecords) {
        std::printf(",\"records\":[");
        for (int32_t i = 0; i < reader.Count(); ++i) {
            TRecordInfoView v;
            reader.GetRecordInfo(i, v);
            std::printf("%s\n{\"index\":%d,\"type\":%u,\"payloadPos\":%u,\"payloadSize\":%u,\"playTime\":%u,"
                        "\"frameValue\":%u,\"frameWidth\":%u,\"frameHeight\":%u,\"pictureShown\":%u,\"timeStamp\":%s",
                        i ? "," : "", i, v.RecordType, v.PayloadPos, v.PayloadSize, v.PlayTime, v.FrameValue,
                        v.FrameWidth, v.FrameHeight, v.PictureShown, JsonNumber(v.TimeStamp).c_str());
            if (v.RecordType == static_cast<uint8_t>(TRecordType::rtAudio))
                std::printf(",\"audioChannel\":%u", v.AudioChannel);
            if (v.RecordType == static_cast<uint8_t>(TRecordType::rtVideo))
                std::printf(",\"keyFlag\":%u", v.KeyFlag);
            std::printf("}");
        }
        std::printf("]");
    }
    std::printf("}\n");
}

// Why `path` did not open as a recording, in a few words.
const char* WhyNotARecording(const char* path)
{
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return std::strerror(errno);
    uint8_t bytes[RecordingHeaderSize];
    const size_t got = std::fread(bytes, 1, sizeof bytes, file);
    std::fclose(file);
    if (got < sizeof bytes)
        return "shorter than a recording header";
    return HeaderFaultText(FirstHeaderFault(ParseRecordingHeader(bytes)));
}

} // namespace

int main(int argc, char** argv)
{
    bool json = false, records = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else if (std::strcmp(argv[i], "--records") == 0)
            records = true;
        else if (!path && argv[i][0] != '-')
            path = argv[i];
        else
            path = nullptr, i = argc;
    }
    if (!path || (records && !json)) {
        std::fputs("usage: crdinfo [--json [--records]] FILE\n", stderr);
        return 2;
    }
    TReadMan reader;
    if (!reader.Open(path)) {
        std::fprintf(stderr, "crdinfo: %s: not a recording (%s)\n", path, WhyNotARecording(path));
        return 2;
    }
    if (json)
        PrintJson(reader, records);
    else
        PrintText(path, reader);
    return 0;
}
