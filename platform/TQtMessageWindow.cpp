#include "TQtMessageWindow.h"

#include <QSocketNotifier>

namespace qrv {

TQtMessageWindow::TQtMessageWindow(TMessageHandler handler)
    : m_handler(std::move(handler))
{
    if (!m_window.IsValid()) {
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_window.Fd(), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [this] { m_window.ReadPending(m_handler); });
}

TQtMessageWindow::~TQtMessageWindow()
{
    m_notifier.reset(); // stop watching before the socket closes
}

} // namespace qrv
