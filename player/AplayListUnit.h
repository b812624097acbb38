#pragma once

// TAplayList: the player's register of audio-play windows. Other processes announce their
// window handle with WM_APLAY_REGISTER and withdraw it with WM_APLAY_UNREGISTER; the audio
// output server's hidden window forwards the handle here. The list only records.
//
// Threads: the player's main thread only.

#include <cstdint>
#include <string>
#include <vector>

namespace qrv {

class TAplayList {
public:
    // Moves `handle` to the end of the list, adding it when absent: each handle is held at
    // most once, the most recently registered last.
    void AddPlayer(uint32_t handle);
    // Takes `handle` out of the list; nothing happens when it is not there.
    void RemovePlayer(uint32_t handle);

    // The entries, oldest first, each a handle as an unsigned decimal number.
    const std::vector<std::string>& Items() const { return m_items; }

private:
    std::vector<std::string> m_items;
};

// The program's one play list, made at first use and kept until the program ends.
TAplayList& AplayList();

} // namespace qrv
