// Release lateness of the playback engine next to a 1 ms sleep-polling loop, in one run.
//
//   bench_engine FILE.crd [--seconds 300] [--chunk 30] [--no-spin]
//
// Plays the first `--seconds` of the recording's time in chunks of `--chunk` seconds, each
// chunk twice in turn: once with the engine (its worker, a window thread running the
// dispatches, a codec library that decodes nothing) and once with a loop that releases the
// same records by the same rule but waits with sleep_for(1 ms). Lateness is measured twice:
// at release (the waiting thread hands the record over) and at dispatch (the window thread
// starts running it), each minus the moment the record's tick began on the steady clock. Records released "at once" (the first after Play or a seek) are not counted.
// Unless --no-spin, a thread spins on the last processor the whole time, so that the
// other core is busy.

#include "GetTickCount.h"
#include "PlaybackEngine.h"
#include "UnitReadMan.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace qrv;
using Clock = std::chrono::steady_clock;

namespace {

int32_t NoCreate(int32_t, int32_t, int32_t, int32_t, int32_t) { return 1; }
int32_t NoDecode(int32_t, const uint8_t*, int32_t, uint8_t*) { return 1; } // a picture, undecoded
int32_t NoEnd(int32_t) { return 1; }
const TVideoCodecLibrary NoCodec{NoCreate, NoDecode, NoEnd};

// The steady-clock moment at which the tick count became `tick` (GetTickCount counts the
// steady clock's whole milliseconds; the bench sets no offset).
Clock::time_point TickStart(uint32_t tick, Clock::time_point near)
{
    const auto nowMs = std::chrono::floor<std::chrono::milliseconds>(near);
    const int32_t back = static_cast<int32_t>(static_cast<uint32_t>(nowMs.time_since_epoch().count()) - tick);
    return nowMs - std::chrono::milliseconds(back);
}

class Window {
public:
    Window() : m_thread([this] { Loop(); }) {}
    ~Window()
    {
        Do([this] { m_quit = true; });
        m_thread.join();
    }
    void Post(std::function<void()> task)
    {
        std::lock_guard g(m_m);
        m_tasks.push_back(std::move(task));
        m_cv.notify_one();
    }
    void Do(const std::function<void()>& f)
    {
        std::promise<void> done;
        Post([&] {
            f();
            done.set_value();
        });
        done.get_future().wait();
    }

private:
    void Loop()
    {
        while (!m_quit) {
            std::function<void()> task;
            {
                std::unique_lock g(m_m);
                m_cv.wait(g, [&] { return !m_tasks.empty(); });
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
        }
    }
    std::mutex m_m;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_tasks;
    bool m_quit = false;
    std::thread m_thread;
};

class NullView : public IPlaybackView {
public:
    void ShowPicture(std::shared_ptr<const TBitmap24>) override {}
    void ClearPicture() override {}
    void ShowSmallPicture(std::shared_ptr<const TBitmap24>) override {}
    void ShowSmallVideo(bool) override {}
    void ShowTimeText(const std::string&) override {}
    void SetPlaybarMaximum(int32_t) override {}
    void SetPlaybarPosition(int32_t) override {}
    TPlaybarMetrics PlaybarMetrics() const override { return {400, 10}; }
    void ShowOSD(const std::string&) override {}
    void SetPlayButtonToggle(bool) override {}
};

struct Stats {
    std::vector<double> lateMs;
    void Print(const char* name)
    {
        if (lateMs.empty()) {
            std::printf("%-22s no records\n", name);
            return;
        }
        std::sort(lateMs.begin(), lateMs.end());
        auto at = [&](double q) { return lateMs[std::min(lateMs.size() - 1, static_cast<size_t>(q * (lateMs.size() - 1) + 0.5))]; };
        size_t overOne = 0;
        for (double v : lateMs)
            overOne += v > 1.0;
        std::printf("%-22s records %6zu  p50 %6.3f ms  p90 %6.3f ms  p99 %6.3f ms  max %7.3f ms  >1ms %zu\n", name,
                    lateMs.size(), at(0.5), at(0.9), at(0.99), lateMs.back(), overOne);
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_engine FILE.crd [--seconds 300] [--chunk 30] [--no-spin]\n");
        return 2;
    }
    const std::string file = argv[1];
    uint32_t seconds = 300;
    uint32_t chunk = 30;
    bool spin = true;
    for (int i = 2; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = static_cast<uint32_t>(std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--chunk") && i + 1 < argc)
            chunk = static_cast<uint32_t>(std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--no-spin"))
            spin = false;
    }
    if (chunk == 0)
        chunk = 1;

    TReadMan reader(NoCodec);
    if (!reader.Open(file) || reader.Count() == 0) {
        std::fprintf(stderr, "bench_engine: cannot open %s\n", file.c_str());
        return 1;
    }
    std::vector<uint32_t> playTimes(static_cast<size_t>(reader.Count()));
    for (int32_t i = 0; i < reader.Count(); ++i) {
        TRecordInfoView v;
        reader.GetRecordInfo(i, v);
        playTimes[static_cast<size_t>(i)] = v.PlayTime;
    }
    const uint32_t first = playTimes.front();
    auto indexAt = [&](uint32_t ms) {
        return static_cast<int32_t>(std::lower_bound(playTimes.begin(), playTimes.end(), first + ms) - playTimes.begin());
    };

    std::atomic<bool> spinning{spin};
    std::thread spinner;
    if (spin) {
        spinner = std::thread([&] {
            cpu_set_t set;
            CPU_ZERO(&set);
            CPU_SET(static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)) - 1, &set);
            pthread_setaffinity_np(pthread_self(), sizeof set, &set);
            volatile uint64_t n = 0;
            while (spinning.load(std::memory_order_relaxed))
                n = n + 1;
        });
    }

    Window window;
    NullView view;
    // Release: the moment the waiting thread hands the record over; dispatch: the moment the
    // window thread starts running it.
    Stats engineStats, pollStats, engineRelease, pollRelease;
    std::unique_ptr<TPlaybackEngine> engine;
    TPlaybackEngine* e = nullptr;
    // The engine's dispatches, timed as the window thread starts them.
    auto post = [&](std::function<void()> task) {
        const auto released = Clock::now();
        window.Post([&, released, task = std::move(task)] {
            const auto now = Clock::now();
            if (e && e->PlayState() == psPlaying && !e->ResyncPending()) {
                const int32_t index = e->CurIndex();
                if (index >= 0 && index < static_cast<int32_t>(playTimes.size())) {
                    const uint32_t due = e->BaseTick() + (playTimes[static_cast<size_t>(index)] - e->BaseTime());
                    engineStats.lateMs.push_back(std::chrono::duration<double, std::milli>(now - TickStart(due, now)).count());
                    engineRelease.lateMs.push_back(
                        std::chrono::duration<double, std::milli>(released - TickStart(due, released)).count());
                }
            }
            task();
        });
    };
    window.Do([&] {
        engine = std::make_unique<TPlaybackEngine>(reader, view, nullptr, post);
        e = engine.get();
        engine->RecordingOpened(true);
    });

    const uint32_t total = std::min(seconds * 1000, playTimes.back() - first);
    for (uint32_t start = 0; start < total; start += chunk * 1000) {
        const int32_t from = indexAt(start);
        const int32_t to = std::min(indexAt(std::min(start + chunk * 1000, total)), reader.Count() - 1);
        if (from >= to)
            continue;

        // The engine: seek there, play until the chunk's last record went out, pause.
        window.Do([&] {
            engine->PlaybarBeginChange();
            engine->PlaybarStopChanged(from);
            engine->Play();
        });
        for (bool done = false; !done;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            window.Do([&] { done = engine->CurIndex() >= to || engine->PlayState() != psPlaying; });
        }
        window.Do([&] { engine->Pause(); });

        // The polling loop: the same records by the same rule, each handed to the window
        // thread and waited for, as the engine does.
        const uint32_t baseTick = GetTickCount();
        const uint32_t baseTime = playTimes[static_cast<size_t>(from)];
        for (int32_t i = from + 1; i <= to; ++i) {
            const uint32_t offset = playTimes[static_cast<size_t>(i)] - baseTime;
            while (offset > GetTickCount() - baseTick)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const uint32_t due = baseTick + offset;
            const auto released = Clock::now();
            window.Do([&] {
                const auto now = Clock::now();
                pollStats.lateMs.push_back(std::chrono::duration<double, std::milli>(now - TickStart(due, now)).count());
                pollRelease.lateMs.push_back(
                    std::chrono::duration<double, std::milli>(released - TickStart(due, released)).count());
            });
        }
        std::fprintf(stderr, "  %u s of %u\n", std::min(start + chunk * 1000, total) / 1000, total / 1000);
    }
    window.Do([&] {
        engine->Stop();
        engine.reset();
        e = nullptr;
    });
    spinning = false;
    if (spinner.joinable())
        spinner.join();

    std::printf("recording %s: %d records, %u s played by each method in %u s chunks, other core %s\n", file.c_str(),
                reader.Count(), total / 1000, chunk, spin ? "busy" : "idle");
    engineRelease.Print("engine release");
    pollRelease.Print("polling release");
    engineStats.Print("engine dispatch");
    pollStats.Print("polling dispatch");
    return 0;
}
