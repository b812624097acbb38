#pragma once

// A message window served by the Qt event loop of the thread that creates it: every
// message posted to Handle() reaches the handler in that thread, in arrival order.

#include "TMessageWindow.h"

#include <memory>

class QSocketNotifier;

namespace qrv {

class TQtMessageWindow {
public:
    // Creates the window (see TMessageWindow) and watches its socket. The handler may be
    // empty and set later; it must not destroy this object.
    explicit TQtMessageWindow(TMessageHandler handler = {});
    ~TQtMessageWindow();
    TQtMessageWindow(const TQtMessageWindow&) = delete;
    TQtMessageWindow& operator=(const TQtMessageWindow&) = delete;

    uint32_t Handle() const { return m_window.Handle(); }
    bool IsValid() const { return m_window.IsValid(); }
    void SetHandler(TMessageHandler handler) { m_handler = std::move(handler); }

private:
    TMessageWindow m_window;
    TMessageHandler m_handler;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace qrv
