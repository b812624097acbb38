#include "Unit_EQSyncManager.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace qrv;

namespace {

struct Posted {
    uint32_t Window, Msg, WParam, LParam;
    uint32_t At;
    bool operator==(const Posted&) const = default;
};

// A manager on a fake clock that records what it posts and its debug lines.
struct SyncFixture {
    uint32_t Now = 0;
    std::vector<Posted> Posts;
    std::vector<std::string> Debug;
    bool PostAnswers = true;
    bool PostThrows = false;
    TEQSyncManager Manager;

    explicit SyncFixture(int32_t window = 0x1234)
        : Manager(window, [this] { return Now; },
                  [this](uint32_t w, uint32_t m, uint32_t wp, uint32_t lp) {
                      if (PostThrows)
                          throw std::runtime_error("post");
                      Posts.push_back({w, m, wp, lp, Now});
                      return PostAnswers;
                  },
                  [this](std::string_view line) { Debug.emplace_back(line); })
    {
        Manager.SetEnabled(true);
    }

    // Ticks every 2 ms until `until`.
    void RunUntil(uint32_t until)
    {
        while (static_cast<int32_t>(until - Now) > 0) {
            Now += 2;
            Manager.SyncTimer();
        }
    }
};

} // namespace

TEST(EQSyncManager, PostsAtTheFirstTickMoreThan250MsAfterArrival)
{
    struct Case {
        const char* name;
        uint32_t received;
        uint32_t now;
        bool posted;
    } cases[] = {
        {"249 ms", 1000, 1249, false},
        {"exactly 250 ms is not yet due", 1000, 1250, false},
        {"251 ms", 1000, 1251, true},
        {"across the tick-count wrap, 256 ms", 0xFFFFFFF0u, 240u, true},
        {"across the wrap, 240 ms", 0xFFFFFFF0u, 224u, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SyncFixture f;
        f.Manager.AddAudioInfo(/*syncTime=*/77, /*syncTag=*/0xBEEF, c.received);
        f.Now = c.now;
        f.Manager.SyncTimer();
        ASSERT_EQ(f.Posts.size(), c.posted ? 1u : 0u);
        EXPECT_EQ(f.Manager.Count(), c.posted ? 0u : 1u);
        if (c.posted) {
            EXPECT_EQ(f.Posts[0], (Posted{0x1234, WM_AUDIO_SYNC, 77, 0xBEEF, c.now}));
        }
    }
}

TEST(EQSyncManager, OneEntryPerTickOldestFirst)
{
    SyncFixture f;
    f.Now = 500;
    f.Manager.AddAudioInfo(1, 10, 500);
    f.Manager.AddAudioInfo(2, 20, 500); // same millisecond
    f.Manager.AddAudioInfo(3, 30, 520);
    f.RunUntil(800);
    ASSERT_EQ(f.Posts.size(), 3u);
    EXPECT_EQ(f.Posts[0].WParam, 1u);
    EXPECT_EQ(f.Posts[0].At, 752u); // first tick past 750
    EXPECT_EQ(f.Posts[1].WParam, 2u);
    EXPECT_EQ(f.Posts[1].At, 754u); // the next tick
    EXPECT_EQ(f.Posts[2].WParam, 3u);
    EXPECT_EQ(f.Posts[2].At, 772u);
}

TEST(EQSyncManager, MoreThanAThousandWaitingAreDroppedAtTheNextAppend)
{
    SyncFixture f;
    for (uint32_t i = 0; i < 1001; ++i)
        f.Manager.AddAudioInfo(i, i, 0);
    EXPECT_EQ(f.Manager.Count(), 1001u) << "the 1001st waiting entry is kept";
    EXPECT_TRUE(f.Debug.empty());

    f.Manager.AddAudioInfo(5000, 7, 0);
    EXPECT_EQ(f.Manager.Count(), 1u);
    EXPECT_EQ(f.Manager.Get(0).SyncTime, 5000u);
    EXPECT_EQ(f.Debug, std::vector<std::string>{"[CXMIXER] EQBuffer is full"});
}

TEST(EQSyncManager, DisablingKeepsEntriesAndEnablingPostsThoseDue)
{
    SyncFixture f;
    f.Manager.SetEnabled(false);
    f.Manager.AddAudioInfo(1, 1, 0);
    f.Manager.AddAudioInfo(2, 2, 100);
    f.RunUntil(1000);
    EXPECT_TRUE(f.Posts.empty());
    EXPECT_EQ(f.Manager.Count(), 2u);

    f.Manager.SetEnabled(true);
    f.Manager.SyncTimer();
    f.Manager.SyncTimer();
    ASSERT_EQ(f.Posts.size(), 2u);
    EXPECT_EQ(f.Posts[0].WParam, 1u);
    EXPECT_EQ(f.Posts[1].WParam, 2u);
}

TEST(EQSyncManager, FailedPostsStillDropTheEntry)
{
    SyncFixture f(-1);
    f.PostAnswers = false;
    f.Manager.AddAudioInfo(9, 9, 0);
    f.RunUntil(300);
    ASSERT_EQ(f.Posts.size(), 1u);
    EXPECT_EQ(f.Posts[0].Window, 0xFFFFFFFFu);
    EXPECT_EQ(f.Manager.Count(), 0u);
}

TEST(EQSyncManager, AFailureInsideATickClearsTheQueue)
{
    SyncFixture f;
    f.PostThrows = true;
    f.Manager.AddAudioInfo(1, 1, 0);
    f.Manager.AddAudioInfo(2, 2, 0);
    f.Now = 300;
    f.Manager.SyncTimer();
    EXPECT_EQ(f.Manager.Count(), 0u);
}

TEST(EQSyncManager, TellsHowLongUntilTheOldestEntryIsDue)
{
    SyncFixture f;
    EXPECT_FALSE(f.Manager.MsUntilNextPost()); // nothing waits
    f.Now = 0xFFFFFF00;                         // across the wrap of the tick count
    f.Manager.AddAudioInfo(1, 1, f.Now);
    f.Manager.AddAudioInfo(2, 2, f.Now + 100);
    struct Step {
        uint32_t after; // ms since the first entry arrived
        uint32_t wait;  // expected wait
    } steps[] = {{0, 251}, {1, 250}, {250, 1}, {251, 0}, {400, 0}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.after);
        f.Now = 0xFFFFFF00 + step.after;
        EXPECT_EQ(f.Manager.MsUntilNextPost(), step.wait);
    }
    f.Manager.SyncTimer(); // posts the first; the second arrived 100 ms later
    EXPECT_EQ(f.Manager.MsUntilNextPost(), 0u); // 300 ms after the second: due as well
    f.Manager.SetEnabled(false);
    EXPECT_FALSE(f.Manager.MsUntilNextPost());
}
