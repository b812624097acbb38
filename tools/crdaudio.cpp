// crdaudio: plays the audio of a recording through the player's audio server and a mixer
// process, on the recording's own clock, without the player's window.
//
//   crdaudio [--mixer PATH] [--start-delay-ms N] [--tail-ms N] [--connect-timeout-ms N]
//            [--port N] [--no-prime] [--log] RECORDING
//
// It opens the recording, starts listening and launching the mixer as the player does
// (CXMixer beside crdaudio unless --mixer or QRV_MIXER_PATH says otherwise), waits until a
// mixer is connected, sends it one empty data packet (16 bytes, DataSize 0: a no-op for
// the mixer) unless --no-prime is given, waits --start-delay-ms more (default 1500), then
// hands each audio record's packet to the server at the
// record's play time, counted from the first audio record. The mixer throws away
// everything that arrives in the second after its first bytes; the empty packet starts that
// second, so with the default delay the recording's first packet is already played. After the last one it waits
// --tail-ms (default 600) for the sound to be played out, closes the server (the mixer then
// ends) and exits.
//
// With --log it prints, on standard output, one line per packet handed over:
//   packet <n> send_ms=<ms since the first packet> mono_ms=<CLOCK_MONOTONIC ms>
//          play_ms=<the record's play time> channel=<c> bytes=<size>
// (one line each; mono_ms compares with times taken by other processes of the machine),
// and first lines "connected mono_ms=<ms>" when the mixer connects and "prime mono_ms=<ms>"
// when the empty packet goes out.
//
// Exit status: 0 played to the end, 1 bad arguments, 2 the recording cannot be opened,
// 3 no mixer connected in time, 4 the audio server could not be set up.

#include "UnitAudioOut.h"
#include "UnitReadMan.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <time.h>
#include <vector>

namespace {

struct Options {
    std::string recording;
    std::string mixer;
    int startDelayMs = 1500;
    int tailMs = 600;
    int connectTimeoutMs = 15000;
    int port = qrv::AudioServerPort;
    bool log = false;
    bool prime = true;
};

void Usage(FILE* to)
{
    std::fprintf(to,
                 "usage: crdaudio [--mixer PATH] [--start-delay-ms N] [--tail-ms N] [--connect-timeout-ms N]\n"
                 "                [--port N] [--no-prime] [--log] RECORDING\n");
}

std::optional<int> ParseCount(const char* text, int max)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 0 || value > max)
        return std::nullopt;
    return static_cast<int>(value);
}

std::optional<Options> ParseArguments(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto number = [&](int& into, int max) {
            if (i + 1 >= argc)
                return false;
            const auto value = ParseCount(argv[++i], max);
            if (!value)
                return false;
            into = *value;
            return true;
        };
        if (arg == "--log") {
            o.log = true;
        } else if (arg == "--no-prime") {
            o.prime = false;
        } else if (arg == "--mixer") {
            if (i + 1 >= argc)
                return std::nullopt;
            o.mixer = argv[++i];
        } else if (arg == "--start-delay-ms") {
            if (!number(o.startDelayMs, 3600000))
                return std::nullopt;
        } else if (arg == "--tail-ms") {
            if (!number(o.tailMs, 3600000))
                return std::nullopt;
        } else if (arg == "--connect-timeout-ms") {
            if (!number(o.connectTimeoutMs, 3600000))
                return std::nullopt;
        } else if (arg == "--port") {
            if (!number(o.port, 65535))
                return std::nullopt;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return std::nullopt;
        } else if (o.recording.empty()) {
            o.recording = arg;
        } else {
            return std::nullopt;
        }
    }
    if (o.recording.empty())
        return std::nullopt;
    return o;
}

double MonotonicMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

struct AudioRecord {
    int32_t index;
    uint32_t playTime;
    uint8_t channel;
};

// Releases the records at their play times. A precise single-shot timer wakes the loop at
// the next deadline; every record whose deadline has come goes out then, in file order, so
// a late wake-up never reorders or skips anything.
class Player {
public:
    Player(const Options& options, qrv::TReadMan& reader, qrv::TAudioOut& out, std::vector<AudioRecord> records)
        : m_options(options), m_reader(reader), m_out(out), m_records(std::move(records))
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Step(); });
    }

    void Start()
    {
        m_clock.start();
        Step();
    }

private:
    void Step()
    {
        const uint32_t origin = m_records.empty() ? 0 : m_records.front().playTime;
        while (m_next < m_records.size()) {
            const AudioRecord& r = m_records[m_next];
            const int64_t due = static_cast<int64_t>(r.playTime - origin);
            const int64_t now = m_clock.nsecsElapsed() / 1000000;
            if (due > now) {
                m_timer.start(static_cast<int>(due - now));
                return;
            }
            Send(r);
            ++m_next;
        }
        // Everything is out: give the mixer time to play it, then close.
        QTimer::singleShot(m_options.tailMs, [this] {
            m_out.SetActive(false);
            QCoreApplication::exit(0);
        });
    }

    void Send(const AudioRecord& r)
    {
        const auto payload = m_reader.ReadAudioPayload(r.index);
        if (!payload)
            return;
        const double sendMs = static_cast<double>(m_clock.nsecsElapsed()) / 1e6;
        const double mono = MonotonicMs();
        const bool sent = m_out.SendPacket(payload->data(), static_cast<int32_t>(payload->size()), r.channel);
        if (sent && m_options.log) {
            std::printf("packet %u send_ms=%.3f mono_ms=%.3f play_ms=%" PRIu32 " channel=%u bytes=%zu\n",
                        m_sent, sendMs, mono, r.playTime, static_cast<unsigned>(r.channel), payload->size());
            std::fflush(stdout);
        }
        m_sent += sent ? 1 : 0;
    }

    const Options& m_options;
    qrv::TReadMan& m_reader;
    qrv::TAudioOut& m_out;
    std::vector<AudioRecord> m_records;
    size_t m_next = 0;
    unsigned m_sent = 0;
    QElapsedTimer m_clock;
    QTimer m_timer;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        Usage(stdout);
        return 0;
    }
    const auto options = ParseArguments(argc, argv);
    if (!options) {
        Usage(stderr);
        return 1;
    }

    qrv::TReadMan reader;
    if (!reader.Open(options->recording)) {
        std::fprintf(stderr, "crdaudio: cannot open %s as a recording\n", options->recording.c_str());
        return 2;
    }
    std::vector<AudioRecord> records;
    for (int32_t i = 0; i < reader.Count(); ++i) {
        qrv::TRecordInfoView view;
        reader.GetRecordInfo(i, view);
        if (view.RecordType == static_cast<uint8_t>(qrv::TRecordType::rtAudio))
            records.push_back({i, view.PlayTime, view.AudioChannel});
    }

    std::optional<qrv::TAudioOut> out;
    try {
        out.emplace(options->mixer, static_cast<uint16_t>(options->port));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "crdaudio: %s\n", e.what());
        return 4;
    }
    out->SetActive(true);
    if (out->ServerPort() == 0) {
        std::fprintf(stderr, "crdaudio: cannot listen on the loopback interface\n");
        return 4;
    }

    Player player(*options, reader, *out, std::move(records));
    bool started = false;
    out->OnConnectionsChanged = [&](qrv::TAudioOut& sender) {
        if (started || !sender.MixerConnected())
            return;
        started = true;
        if (options->log) {
            std::printf("connected mono_ms=%.3f\n", MonotonicMs());
            std::fflush(stdout);
        }
        if (options->prime) {
            // Marker 0xF1, codec 3, DataSize 0, channel 1: dropped by the mixer unread.
            const uint8_t empty[16] = {0xF1, 3, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
            sender.SendPacket(empty, sizeof empty, 1);
            if (options->log) {
                std::printf("prime mono_ms=%.3f\n", MonotonicMs());
                std::fflush(stdout);
            }
        }
        QTimer::singleShot(options->startDelayMs, Qt::PreciseTimer, [&] { player.Start(); });
    };
    QTimer::singleShot(options->connectTimeoutMs, [&] {
        if (!started) {
            std::fprintf(stderr, "crdaudio: no mixer connected within %d ms (mixer: %s)\n",
                         options->connectTimeoutMs, out->MixerPath().c_str());
            out->SetActive(false);
            QCoreApplication::exit(3);
        }
    });
    return QCoreApplication::exec();
}
