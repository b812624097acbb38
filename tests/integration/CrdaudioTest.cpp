// crdaudio against the fake mixer: what reaches the mixer, and when.

#include "RecordingFixture.h"
#include "ScopedRuntimeDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace qrv {
namespace {

struct ToolRun {
    int status = -1;
    std::string output;
    double seconds = 0;
};

ToolRun RunCrdaudio(const std::string& arguments)
{
    ToolRun run;
    const auto start = std::chrono::steady_clock::now();
    const std::string command = std::string(CRDAUDIO_PATH) + " " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

struct LoggedPacket {
    double sendMs;
    uint32_t playMs;
    unsigned channel;
    size_t bytes;
};

std::vector<LoggedPacket> ParseLog(const std::string& output)
{
    std::vector<LoggedPacket> packets;
    const std::regex line(R"(packet \d+ send_ms=([0-9.]+) mono_ms=[0-9.]+ play_ms=(\d+) channel=(\d+) bytes=(\d+))");
    std::istringstream in(output);
    std::string text;
    while (std::getline(in, text)) {
        std::smatch m;
        if (std::regex_match(text, m, line))
            packets.push_back({std::stod(m[1]), static_cast<uint32_t>(std::stoul(m[2])),
                               static_cast<unsigned>(std::stoul(m[3])), std::stoul(m[4])});
    }
    return packets;
}

class CrdaudioTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("FAKE_MIXER_LOG", (m_folder / "launches.log").c_str(), 1);
        ::setenv("FAKE_MIXER_MODE", "connect", 1);
        ::setenv("FAKE_MIXER_DATA", (m_folder / "data").c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("FAKE_MIXER_LOG");
        ::unsetenv("FAKE_MIXER_MODE");
        ::unsetenv("FAKE_MIXER_DATA");
    }
    // What the (only) fake mixer received.
    std::vector<uint8_t> MixerData()
    {
        std::ifstream log(m_folder / "launches.log");
        std::string pid;
        log >> pid;
        // The mixer may still be writing the last bytes when crdaudio has ended.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream stat("/proc/" + pid + "/stat");
            std::string text;
            if (!std::getline(stat, text) || text.find(") Z") != std::string::npos)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::ifstream in(m_folder / ("data." + pid), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    test::ScopedRuntimeDir m_runtime;
    test::TempFolder m_folder;
};

TEST_F(CrdaudioTest, SendsEachAudioPacketAtItsPlayTimeAndNothingElse)
{
    test::RecordingFixture f;
    struct Record {
        bool audio;
        uint32_t delta;
        uint8_t channel;
        size_t size;
    } const records[] = {
        {false, 200, 0, 50},  // a video record before the first sound: not waited for
        {true, 0, 1, 120},    // play 200: the start of the clock
        {true, 100, 2, 300},  // play 300
        {true, 0, 0, 40},     // channel 0: never sent
        {false, 50, 0, 90},
        {true, 150, 255, 8000}, // play 500
        {true, 0, 3, 16},     // play 500, same moment
        {true, 400, 1, 200},  // play 900
    };
    std::vector<uint8_t> expected;
    std::vector<uint32_t> expectedPlay;
    uint32_t play = 0;
    uint8_t seed = 1;
    for (const Record& r : records) {
        play += r.delta;
        const auto payload = test::CountingBytes(r.size, seed++);
        if (!r.audio) {
            f.AddVideo(r.delta, 1, 320, 240, payload);
            continue;
        }
        f.AddAudio(r.delta, r.channel, payload);
        if (r.channel != 0) {
            expected.insert(expected.end(), payload.begin(), payload.end());
            expectedPlay.push_back(play);
        }
    }
    const auto path = m_folder / "talk.crd";
    f.WriteTo(path);

    // By default an empty data packet (a no-op for the mixer) goes first, to start the
    // mixer's discarded first second before the recording's packets.
    const std::vector<uint8_t> prime{0xF1, 3, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
    struct Case {
        const char* name;
        std::string option;
        std::vector<uint8_t> first;
    } const cases[] = {{"primed", "", prime}, {"not primed", " --no-prime", {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink((m_folder / "launches.log").c_str());
        const ToolRun run = RunCrdaudio(std::string("--mixer ") + FAKE_MIXER_PATH + c.option +
                                        " --start-delay-ms 0 --tail-ms 300 --port 0 --log " + path.string());
        ASSERT_EQ(run.status, 0) << run.output;
        std::vector<uint8_t> all = c.first;
        all.insert(all.end(), expected.begin(), expected.end());
        EXPECT_TRUE(MixerData() == all) << "the mixer did not get exactly the packets of channels 1 to 255";

        const auto logged = ParseLog(run.output);
        ASSERT_EQ(logged.size(), expectedPlay.size()) << run.output;
        for (size_t i = 0; i < logged.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(logged[i].playMs, expectedPlay[i]);
            const double due = static_cast<double>(expectedPlay[i] - expectedPlay.front());
            EXPECT_GE(logged[i].sendMs, due - 0.5) << "sent early";
            EXPECT_LT(logged[i].sendMs, due + 60) << "sent late";
        }
        // The last packet at 700 ms after the first, then the tail; launching takes a second.
        EXPECT_GT(run.seconds, 0.7 + 0.3);
        EXPECT_LT(run.seconds, 8.0);
    }
}

TEST_F(CrdaudioTest, RefusesWhatItCannotPlay)
{
    const auto junk = m_folder / "junk.crd";
    test::RecordingFixture::WriteBytes(junk, std::vector<uint8_t>(600, 0x11));
    struct Case {
        const char* name;
        std::string arguments;
        int status;
    } const cases[] = {
        {"no recording", "--log", 1},
        {"unknown option", "--loud " + junk.string(), 1},
        {"a delay that is not a number", "--start-delay-ms soon " + junk.string(), 1},
        {"not a recording", junk.string(), 2},
        {"a missing file", (m_folder / "missing.crd").string(), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RunCrdaudio(c.arguments).status, c.status);
    }

    // A mixer that never connects.
    test::RecordingFixture f;
    f.AddAudio(0, 1, test::CountingBytes(20));
    const auto path = m_folder / "one.crd";
    f.WriteTo(path);
    const ToolRun run = RunCrdaudio("--mixer /nonexistent/CXMixer --connect-timeout-ms 1500 --port 0 " + path.string());
    EXPECT_EQ(run.status, 3) << run.output;
}

} // namespace
} // namespace qrv
