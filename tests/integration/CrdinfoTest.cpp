// crdinfo as a process: its summary, its JSON and its refusals.

#include "RecordingFixture.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <regex>
#include <sys/wait.h>

using qrv::test::CountingBytes;
using qrv::test::RecordingFixture;
using qrv::test::TempFolder;

namespace {

struct ProcessRun {
    int status = -1;
    std::string out;
    std::string err;
};

ProcessRun Crdinfo(const std::string& arguments, const TempFolder& folder)
{
    const auto errPath = folder / "stderr.txt";
    const std::string command = std::string(CRDINFO_PATH) + " " + arguments + " 2>" + errPath.string();
    ProcessRun run;
    FILE* pipe = popen(command.c_str(), "r");
    std::array<char, 4096> chunk;
    while (size_t got = fread(chunk.data(), 1, chunk.size(), pipe))
        run.out.append(chunk.data(), got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    FILE* err = fopen(errPath.c_str(), "r");
    while (size_t got = fread(chunk.data(), 1, chunk.size(), err))
        run.err.append(chunk.data(), got);
    fclose(err);
    return run;
}

} // namespace

TEST(Crdinfo, JsonHoldsTheHeaderAndEveryIndexEntry)
{
    TempFolder folder;
    RecordingFixture f;
    f.Header.HeaderVersion = 3; // opened like any other, its version shown
    f.Header.RecordingType = 1;
    f.Header.PasswordText.Assign("049050051");
    f.Header.SummaryText.Assign("7JqU7JW9ICI="); // Base64 of the UTF-8 of 요약 "
    f.AddVideo(40, 1, 320, 240, CountingBytes(10), 9);
    f.AddAudio(20, 4, CountingBytes(30));
    f.AddPicture(5, 0, 160, 120, CountingBytes(7));
    f.AddVideo(40, 0, 320, 240, CountingBytes(500));
    f.CutLast(400); // the last record is cut: the index still says 500
    const auto path = folder / "r.crd";
    f.WriteTo(path);

    const ProcessRun run = Crdinfo("--json --records " + path.string(), folder);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string& j = run.out;
    for (const char* expected : {
             R"("magic":"QRV.")", R"("version":3)", R"("recordingType":1)", R"("videoWidth":320)",
             R"("videoHeight":240)", R"("startTime":45000.25)", R"("recordedSize":1000)", R"("hasPassword":true)",
             R"("summary":"요약 \"")", R"("count":4)", R"("totalTime":105)", R"("keyRecords":[0])",
             R"({"index":0,"type":2,"payloadPos":665,"payloadSize":10,"playTime":40,"frameValue":9,"frameWidth":320,"frameHeight":240,"pictureShown":0,"timeStamp":45000.5,"keyFlag":1})",
             R"({"index":1,"type":1,"payloadPos":697,"payloadSize":30,"playTime":60,"frameValue":0,"frameWidth":0,"frameHeight":0,"pictureShown":0,"timeStamp":45000.5,"audioChannel":4})",
             R"("index":2,"type":3,)", R"("index":3,"type":2,)", R"("payloadSize":500,)"}) {
        EXPECT_NE(j.find(expected), std::string::npos) << expected << "\nin\n" << j;
    }
    // Without --records, no entries.
    const ProcessRun brief = Crdinfo("--json " + path.string(), folder);
    EXPECT_EQ(brief.out.find("\"records\""), std::string::npos);
    EXPECT_NE(brief.out.find("\"count\":4"), std::string::npos);
    // The summary text names the counts.
    const ProcessRun text = Crdinfo(path.string(), folder);
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("version:        3"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("00:00:00.105"), std::string::npos) << text.out;
}

TEST(Crdinfo, RefusesWhatIsNotARecordingWithOneLine)
{
    TempFolder folder;
    RecordingFixture badTrailer;
    badTrailer.Header.TrailerMagic = {'Z', 'a', 'P', 'x'};
    badTrailer.WriteTo(folder / "trailer.crd");
    RecordingFixture::WriteBytes(folder / "short.crd", CountingBytes(100));
    for (const std::string name : {"trailer.crd", "short.crd", "missing.crd"}) {
        SCOPED_TRACE(name);
        for (const char* options : {"", "--json "}) {
            const ProcessRun run = Crdinfo(options + (folder / name).string(), folder);
            EXPECT_EQ(run.status, 2);
            EXPECT_TRUE(run.out.empty());
            EXPECT_TRUE(std::regex_match(run.err, std::regex("crdinfo: .*\n"))) << run.err;
        }
    }
}
