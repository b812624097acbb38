#pragma once

// TAudioOut: the player's end of the audio bridge.
//
// It listens for the mixer process on the loopback interface, keeps a mixer running (while
// it is active and no mixer is connected it starts one every second), and writes each audio
// packet it is handed to the connected mixer, whole and in order. It never reads from the
// connection and never looks inside a packet. Its hidden message window receives the
// mixer's and other audio players' messages; of those it acts on WM_APLAY_REGISTER and
// WM_APLAY_UNREGISTER only, which go to the program's play list (AplayListUnit.h).
//
// The mixer is started as `<folder>/CXMixer <window handle> 3 <port>`, where <folder> is the
// running executable's folder and <port> the port the server actually listens on: 799 when
// it can be bound, else a free port chosen by the system. The mixer executable can be
// replaced, for tests and the harness tools: by the constructor's `mixerPath`, else by the
// environment variable QRV_MIXER_PATH.
//
// Only a connection from a process of this same user is taken: the peer socket's owner is
// looked up in the kernel's TCP tables, and any other connection is closed at once.
//
// Threads: the thread that creates it, which must run a Qt event loop (the player's main
// thread). Needs a QCoreApplication.

#include "AudioMessages.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace qrv {

// The port the server tries first, the one the mixer expects by default.
inline constexpr uint16_t AudioServerPort = 799;
// ms between two looks for a connected mixer (and two mixer starts while there is none).
inline constexpr int LaunchIntervalMs = 1000;
// The codec type given to every mixer at start: Speex wideband.
inline constexpr int MixerStartCodec = 3;
// The most bytes that may wait in the connection's send buffer. A packet that would go
// beyond it is dropped whole: a mixer that has stopped reading must not make the player's
// memory grow, and sound that late is useless anyway. Many minutes of speech.
inline constexpr int64_t MaxPendingSendBytes = 4 << 20;

// Raised by the constructor when the hidden window cannot be created.
class EAllocateHWndFail : public std::runtime_error {
public:
    EAllocateHWndFail() : std::runtime_error("AllocateHWnd Fail") {}
};

class TAudioOut {
public:
    // `mixerPath`: the mixer executable; empty takes QRV_MIXER_PATH, else CXMixer beside the
    // running executable. `preferredPort`: tried first; 0 goes straight to a free port.
    // Starts inactive: not listening, no mixer started. Throws EAllocateHWndFail.
    explicit TAudioOut(std::string mixerPath = {}, uint16_t preferredPort = AudioServerPort);
    ~TAudioOut();
    TAudioOut(const TAudioOut&) = delete;
    TAudioOut& operator=(const TAudioOut&) = delete;

    // Active: listening and keeping a mixer running. Setting it false closes every
    // connection at once (the mixer then ends) and stops listening. Setting the same value
    // twice is harmless.
    bool Active() const { return m_active; }
    void SetActive(bool value);

    // Writes `count` bytes at `buffer`, one audio packet, to the mixer. False only when
    // `channel` (the record's audio channel, not sent) is outside 1 to 255; true when
    // written, when no mixer is connected (the packet is dropped) and when the mixer is so
    // far behind that the packet would pass MaxPendingSendBytes (dropped whole as well).
    bool SendPacket(const void* buffer, int32_t count, int32_t channel);

    // The hidden window's handle, given to the mixer on its command line.
    uint32_t WindowHandle() const;
    // The port listened on; 0 while inactive or when no port could be bound.
    uint16_t ServerPort() const;
    // True while a mixer connection is open; packets go to the first one accepted.
    bool MixerConnected() const;
    // Accepted connections (the mixer and any later ones, which receive nothing).
    int ConnectionCount() const;
    // Bytes written to the mixer connection that the system has not taken yet.
    int64_t PendingSendBytes() const;
    const std::string& MixerPath() const { return m_mixerPath; }

    // Starts a mixer unless one is connected or the server is not listening. The timer
    // calls it every LaunchIntervalMs while active.
    void LaunchMixer();

    // Called when a connection of this user is accepted, and when one closes.
    std::function<void(TAudioOut& sender)> OnConnectionsChanged;

private:
    struct TImpl;
    void Listen();
    void CloseConnections();
    void AcceptPending();

    std::string m_mixerPath;
    uint16_t m_preferredPort;
    bool m_active = false;
    std::unique_ptr<TImpl> m_impl;
};

} // namespace qrv
