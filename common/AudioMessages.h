#pragma once

// The window messages that cross between the player and the mixer (posted, never sent).

#include <cstdint>

namespace qrv {

// Mixer to player, once per frame of a processed data packet: wParam SyncTime, lParam UserData.
inline constexpr uint32_t WM_AUDIO_FRAME = 24024;
// Mixer to player, once per data packet when its sound is heard: wParam SyncTime, lParam SyncTag.
inline constexpr uint32_t WM_AUDIO_SYNC = 33871;
// An audio-play window registers with the player's audio server: wParam its handle.
inline constexpr uint32_t WM_APLAY_REGISTER = 34049;
// An audio-play window withdraws (the mixer, as it ends): wParam its handle.
inline constexpr uint32_t WM_APLAY_UNREGISTER = 34050;

} // namespace qrv
