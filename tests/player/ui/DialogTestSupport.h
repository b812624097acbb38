#pragma once

// Helpers for tests that drive modal dialogs: the test arms an action for the next modal
// dialog of a type, then calls the code that shows it; the action runs inside the dialog's
// own event loop once the dialog is the active modal widget.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>

namespace qrv::test {

// Runs `action` on the next modal dialog of type T. When none appears within the time
// limit the test fails and whatever modal dialog is open is closed, so the test never hangs.
template <class T>
void OnNextModal(std::function<void(T*)> action, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    auto* timer = new QTimer;
    timer->setInterval(5);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    QObject::connect(timer, &QTimer::timeout, [timer, action, deadline] {
        QWidget* modal = QApplication::activeModalWidget();
        if (T* dialog = qobject_cast<T*>(modal); dialog != nullptr && dialog->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(dialog);
            return;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal dialog of the expected type appeared";
            if (auto* open = qobject_cast<QDialog*>(modal))
                open->done(0);
        }
    });
    timer->start();
}

// Sends a key press and release to the dialog's focused control, or to the dialog itself
// when nothing inside it has the focus, as the keyboard would.
inline void PressKey(QWidget* dialog, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget* target = dialog->focusWidget() != nullptr ? dialog->focusWidget() : dialog;
    QTest::keyClick(target, key, modifiers);
}

} // namespace qrv::test
