#include "Unit_EQSyncManager.h"

#include <utility>

namespace qrv {

TEQSyncManager::TEQSyncManager(int32_t window, Clock clock, Poster post, DebugOutput debug)
    : FWindow(window), FClock(std::move(clock)), FPost(std::move(post)), FDebug(std::move(debug))
{
}

void TEQSyncManager::AddAudioInfo(uint32_t syncTime, uint32_t syncTag, uint32_t received)
{
    std::lock_guard lock(FLock);
    if (EQBuffer.size() > MaxWaitingEntries) {
        EQBuffer.clear();
        if (FDebug)
            FDebug("[CXMIXER] EQBuffer is full");
    }
    EQBuffer.push_back(TAudioInfo{syncTag, syncTime, received});
}

void TEQSyncManager::SyncTimer()
{
    if (!FEnabled)
        return;
    try {
        TAudioInfo first;
        {
            std::lock_guard lock(FLock);
            if (EQBuffer.empty())
                return;
            first = EQBuffer.front();
        }
        const uint32_t now = FClock ? FClock() : 0;
        if (static_cast<uint32_t>(now - first.Received) > SyncDelayMs) {
            if (FPost)
                FPost(static_cast<uint32_t>(FWindow), WM_AUDIO_SYNC, first.SyncTime, first.SyncTag);
            std::lock_guard lock(FLock);
            if (!EQBuffer.empty())
                EQBuffer.pop_front();
        }
    } catch (...) {
        Clear();
    }
}

std::optional<uint32_t> TEQSyncManager::MsUntilNextPost() const
{
    uint32_t received = 0;
    {
        std::lock_guard lock(FLock);
        if (!FEnabled || EQBuffer.empty())
            return std::nullopt;
        received = EQBuffer.front().Received;
    }
    const uint32_t elapsed = (FClock ? FClock() : 0) - received;
    return elapsed > SyncDelayMs ? 0 : SyncDelayMs + 1 - elapsed;
}

size_t TEQSyncManager::Count() const
{
    std::lock_guard lock(FLock);
    return EQBuffer.size();
}

void TEQSyncManager::Clear()
{
    std::lock_guard lock(FLock);
    EQBuffer.clear();
}

void TEQSyncManager::Delete(size_t index)
{
    std::lock_guard lock(FLock);
    if (index < EQBuffer.size())
        EQBuffer.erase(EQBuffer.begin() + static_cast<std::ptrdiff_t>(index));
}

TAudioInfo TEQSyncManager::Get(size_t index) const
{
    std::lock_guard lock(FLock);
    return index < EQBuffer.size() ? EQBuffer[index] : TAudioInfo{};
}

} // namespace qrv
