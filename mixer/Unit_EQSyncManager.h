#pragma once

// TEQSyncManager: tells the player's window when the sound of each processed data packet is
// being heard. The receiver queues one entry per packet with the tick at which it arrived;
// a 2 ms tick posts WM_AUDIO_SYNC for the oldest entry once more than 250 ms (one channel
// buffer of delay) have passed since then, at most one entry per tick.
//
// Time and the tick come from outside: the manager reads the tick count through a clock
// function and does its work when SyncTimer is called. The mixer's timer ticks when the
// oldest entry falls due (MsUntilNextPost), and never twice within 2 ms, which posts what
// a 2 ms tick would, without waking 500 times a second; tests step a fake clock and call
// SyncTimer themselves. Posting goes through a
// function with PostMessage's shape, so that a test can record the messages.

#include "AudioMessages.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>

namespace qrv {

struct TAudioInfo {
    uint32_t SyncTag = 0;  // the packet's 16-bit SyncTag, zero-extended
    uint32_t SyncTime = 0; // the packet's SyncTime
    uint32_t Received = 0; // tick count (ms) when the packet was processed
};

class TEQSyncManager {
public:
    using Clock = std::function<uint32_t()>;
    // (window handle, message, wParam, lParam) -> posted; a failed post is ignored.
    using Poster = std::function<bool(uint32_t, uint32_t, uint32_t, uint32_t)>;
    using DebugOutput = std::function<void(std::string_view)>;

    static constexpr uint32_t SyncDelayMs = 250;    // one channel buffer of sound
    static constexpr size_t MaxWaitingEntries = 1000; // more waiting than this: drop them all
    static constexpr int TimerIntervalMs = 2;       // period of the tick that calls SyncTimer

    // `window` is the target of WM_AUDIO_SYNC (-1: none; posts then fail and are ignored).
    // Disabled at creation.
    TEQSyncManager(int32_t window, Clock clock, Poster post, DebugOutput debug = {});

    // A disabled manager ignores ticks and keeps its entries; enabling it again posts
    // those that are due, oldest first, one per tick.
    void SetEnabled(bool enabled) { FEnabled = enabled; }
    bool Enabled() const { return FEnabled; }

    // Queues an entry. When more than 1000 entries are waiting they are all dropped first
    // (debug line "[CXMIXER] EQBuffer is full").
    void AddAudioInfo(uint32_t syncTime, uint32_t syncTag, uint32_t received);

    // One tick: posts the oldest entry when more than 250 ms (unsigned, so the tick count
    // may wrap) have passed since it arrived, then drops it.
    void SyncTimer();

    // How long until a tick would post the oldest entry, in ms (0: it is due now); none when
    // the manager is disabled or nothing waits. Lets the mixer tick only when there is
    // something to post instead of every 2 ms.
    std::optional<uint32_t> MsUntilNextPost() const;

    size_t Count() const;
    void Clear();
    void Delete(size_t index);
    // The entry at `index`; a default entry when there is none.
    TAudioInfo Get(size_t index) const;

private:
    int32_t FWindow;
    Clock FClock;
    Poster FPost;
    DebugOutput FDebug;
    bool FEnabled = false;
    mutable std::mutex FLock;
    std::deque<TAudioInfo> EQBuffer;
};

} // namespace qrv
