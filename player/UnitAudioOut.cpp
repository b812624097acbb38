#include "UnitAudioOut.h"

#include "AplayListUnit.h"
#include "TQtMessageWindow.h"
#include "TcpPeerOwner.h"
#include "_QRV_Utils.h"

#include <QHostAddress>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace qrv {

namespace {

std::string DefaultMixerPath()
{
    if (const char* path = std::getenv("QRV_MIXER_PATH"); path != nullptr && path[0] != '\0') {
        return path;
    }
    const std::string exe = GetExecutablePath();
    const size_t slash = exe.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
    return folder + "/CXMixer";
}

TTcpEndpoint ToEndpoint(const QHostAddress& address, quint16 port)
{
    bool isIPv4 = false;
    const quint32 v4 = address.toIPv4Address(&isIPv4); // also for ::ffff:a.b.c.d
    if (isIPv4) {
        return TTcpEndpoint::FromIPv4({static_cast<uint8_t>(v4 >> 24), static_cast<uint8_t>(v4 >> 16),
                                       static_cast<uint8_t>(v4 >> 8), static_cast<uint8_t>(v4)},
                                      port);
    }
    const Q_IPV6ADDR v6 = address.toIPv6Address();
    std::array<uint8_t, 16> bytes{};
    std::copy(std::begin(v6.c), std::end(v6.c), bytes.begin());
    return TTcpEndpoint::FromIPv6(bytes, port);
}

// True when the process at the other end of `socket` runs as this user.
bool PeerIsSameUser(const QTcpSocket& socket)
{
    const auto owner = FindTcpSocketOwner(ToEndpoint(socket.peerAddress(), socket.peerPort()),
                                          ToEndpoint(socket.localAddress(), socket.localPort()));
    return owner && *owner == ::getuid();
}

} // namespace

struct TAudioOut::TImpl {
    TQtMessageWindow Window;
    QTimer LaunchTimer;
    QTcpServer Server;
    // Accepted connections of this user, oldest first; the first is the mixer.
    std::vector<QTcpSocket*> Connections;
};

TAudioOut::TAudioOut(std::string mixerPath, uint16_t preferredPort)
    : m_mixerPath(mixerPath.empty() ? DefaultMixerPath() : std::move(mixerPath))
    , m_preferredPort(preferredPort)
    , m_impl(std::make_unique<TImpl>())
{
    if (!m_impl->Window.IsValid()) {
        throw EAllocateHWndFail();
    }
    m_impl->Window.SetHandler([](uint32_t msg, uint32_t wParam, uint32_t) {
        // The mixer's timing messages (and any other) have no effect here.
        if (msg == WM_APLAY_REGISTER) {
            AplayList().AddPlayer(wParam);
        } else if (msg == WM_APLAY_UNREGISTER) {
            AplayList().RemovePlayer(wParam);
        }
    });
    m_impl->LaunchTimer.setInterval(LaunchIntervalMs);
    QObject::connect(&m_impl->LaunchTimer, &QTimer::timeout, [this] { LaunchMixer(); });
    QObject::connect(&m_impl->Server, &QTcpServer::newConnection, [this] { AcceptPending(); });
}

TAudioOut::~TAudioOut()
{
    OnConnectionsChanged = nullptr; // its owner may be half gone already
    m_impl->LaunchTimer.stop();
    CloseConnections();
    m_impl->Server.close();
}

void TAudioOut::SetActive(bool value)
{
    m_active = value;
    if (value) {
        if (!m_impl->Server.isListening()) {
            Listen();
        }
        if (!m_impl->LaunchTimer.isActive()) {
            m_impl->LaunchTimer.start();
        }
    } else {
        CloseConnections();
        m_impl->Server.close();
        m_impl->LaunchTimer.stop();
    }
}

void TAudioOut::Listen()
{
    // Loopback only: the sound of a recording is for this machine's user, not the network.
    // Ports below 1024 need privileges on Linux, so 799 usually falls through to a free
    // port, which then goes on the mixer's command line.
    if (m_preferredPort != 0 && m_impl->Server.listen(QHostAddress::LocalHost, m_preferredPort)) {
        return;
    }
    m_impl->Server.listen(QHostAddress::LocalHost, 0);
}

void TAudioOut::AcceptPending()
{
    bool changed = false;
    while (QTcpSocket* socket = m_impl->Server.nextPendingConnection()) {
        if (!PeerIsSameUser(*socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        SetTcpNoDelay(static_cast<int>(socket->socketDescriptor()), true);
        // The mixer never writes; whatever a peer sends is thrown away so that it cannot
        // fill the player's memory.
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->skip(socket->bytesAvailable()); });
        // A socket error closes that connection; the mixer then ends and a new one starts.
        QObject::connect(socket, &QAbstractSocket::errorOccurred, socket, [socket](QAbstractSocket::SocketError) {
            if (socket->state() != QAbstractSocket::UnconnectedState) {
                socket->abort();
            }
        });
        QObject::connect(socket, &QAbstractSocket::disconnected, socket, [this, socket] {
            auto& list = m_impl->Connections;
            const auto found = std::find(list.begin(), list.end(), socket);
            if (found == list.end()) {
                return;
            }
            list.erase(found);
            socket->deleteLater();
            if (OnConnectionsChanged) {
                OnConnectionsChanged(*this);
            }
        });
        m_impl->Connections.push_back(socket);
        changed = true;
    }
    if (changed && OnConnectionsChanged) {
        OnConnectionsChanged(*this);
    }
}

void TAudioOut::CloseConnections()
{
    // Taken out of the list first: abort() announces the disconnection synchronously.
    std::vector<QTcpSocket*> connections;
    connections.swap(m_impl->Connections);
    for (QTcpSocket* socket : connections) {
        socket->disconnect();
        socket->abort();
        socket->deleteLater();
    }
    if (!connections.empty() && OnConnectionsChanged) {
        OnConnectionsChanged(*this);
    }
}

bool TAudioOut::SendPacket(const void* buffer, int32_t count, int32_t channel)
{
    if (static_cast<uint32_t>(channel) - 1u >= 255u) {
        return false;
    }
    if (m_impl->Connections.empty() || count <= 0 || buffer == nullptr) {
        return true;
    }
    QTcpSocket* mixer = m_impl->Connections.front();
    // The socket keeps whatever the system does not take at once and writes it as soon as
    // it can, so a packet always goes out whole behind the ones before it. Only a packet
    // that would pass the cap is dropped, and then entirely.
    if (mixer->bytesToWrite() + count > MaxPendingSendBytes) {
        return true;
    }
    mixer->write(static_cast<const char*>(buffer), count);
    mixer->flush();
    return true;
}

void TAudioOut::LaunchMixer()
{
    if (!m_impl->Connections.empty() || !m_impl->Server.isListening()) {
        return;
    }
    const QStringList arguments{QString::number(WindowHandle()), QString::number(MixerStartCodec),
                                QString::number(m_impl->Server.serverPort())};
    // Detached: the mixer runs in the background without a window, and the double fork
    // behind startDetached leaves no child of ours to reap. A missing executable simply
    // fails again a second later.
    QProcess::startDetached(QString::fromStdString(m_mixerPath), arguments);
}

uint32_t TAudioOut::WindowHandle() const
{
    return m_impl->Window.Handle();
}

uint16_t TAudioOut::ServerPort() const
{
    return m_impl->Server.isListening() ? m_impl->Server.serverPort() : 0;
}

bool TAudioOut::MixerConnected() const
{
    return !m_impl->Connections.empty();
}

int TAudioOut::ConnectionCount() const
{
    return static_cast<int>(m_impl->Connections.size());
}

int64_t TAudioOut::PendingSendBytes() const
{
    return m_impl->Connections.empty() ? 0 : m_impl->Connections.front()->bytesToWrite();
}

} // namespace qrv
