#pragma once

// A core on a temporary data folder for tests of the two dialogs, with recording ports, and
// the operator's hands: typing, clicking and answering a modal dialog from a timer.

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/Core.h"
#include "base/SettingsStore.h"
#include "state/OperatorPorts.h"
#include "support/CoreFakes.h"
#include "support/CoreHarness.h"

namespace torvane::test {

// Questions answered from a script ("yes" when none is left) and message boxes recorded.
using RecordedDialogs = ScriptedDialogs;

class QuietStatus : public StatusDisplay {
public:
    void SetTrayStatus(int, const std::string&) override {}
    void ShowTrayBalloon(int, const std::string&) override {}
    void PlayWaveResource(int) override {}
    void ShowDayOffset(int) override {}
    void SetInsertButtonEnabled(bool) override {}
    void ShowWaitingDetections(std::size_t) override {}
};

class DialogTestHarness {
public:
    // With real timers the window timers run in whatever event loop is running, a modal
    // dialog's included.
    explicit DialogTestHarness(bool useFakeTimers = true)
        : core(std::make_unique<Core>(
              Core::Ports{dialogs, status, manual, useFakeTimers ? &timers : nullptr})) {
        core->AttachMessageTarget();
        MakeDirectories(GetDataFolder());
        core->OpenJournal();
    }

    // The settings file's lines without the blank lines between sections.
    std::vector<std::string> IniLines() const {
        std::vector<std::string> lines;
        std::istringstream file(ReadFile(folders.IniPath()));
        for (std::string line; std::getline(file, line);)
            if (!line.empty()) lines.push_back(line);
        return lines;
    }

    IsolatedFolders folders;
    RecordedDialogs dialogs;
    QuietStatus status;
    ScriptedManualInput manual;
    FakeTimers timers;
    std::unique_ptr<Core> core;
};

template <typename Widget = QWidget>
Widget* Child(const QWidget& parent, const char* name) {
    return parent.findChild<Widget*>(QLatin1String(name));
}

// Key presses as the keyboard sends them, one character after the other.
inline void TypeText(QWidget* target, const QString& text) {
    for (const QChar c : text) {
        const int key = c.isLetterOrNumber() ? c.toUpper().unicode() : c.unicode();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &release);
    }
}

inline void PressKey(QWidget* target, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(target, &release);
}

// Selects what the field holds and types over it.
inline void TypeOver(QWidget* field, const QString& text) {
    PressKey(field, Qt::Key_A, Qt::ControlModifier);
    PressKey(field, Qt::Key_Delete);
    TypeText(field, text);
}

// A left click at a point of the control (by default a little inside its left edge, where a
// check box has its box and a button its face).
inline void Click(QWidget* control, QPoint at = QPoint(-1, -1)) {
    if (at.x() < 0) at = QPoint(6, control->height() / 2);
    const QPointF local(at);
    const QPointF global(control->mapToGlobal(at));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(control, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(control, &release);
}

// Runs `operate` on the next modal dialog once it is open (and, when given, once `ready` holds:
// meanwhile the dialog's own event loop runs). A dialog still open after the deadline is
// cancelled, so a test never hangs on it.
inline void WhenModalOpens(std::function<void(QDialog&)> operate, int deadlineMs = 5000,
                           std::function<bool()> ready = nullptr) {
    auto* poll = new QTimer;
    auto* elapsed = new QElapsedTimer;
    elapsed->start();
    QObject::connect(poll, &QTimer::timeout, [poll, elapsed, operate, deadlineMs, ready] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog && dialog->isVisible() && ready && !ready() &&
            elapsed->elapsed() <= deadlineMs) {
            return;
        }
        if (dialog && dialog->isVisible()) {
            if (elapsed->elapsed() <= deadlineMs) operate(*dialog);
            if (dialog->isVisible()) dialog->reject();
        } else if (elapsed->elapsed() <= deadlineMs) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        delete elapsed;
    });
    poll->start(10);
}

}  // namespace torvane::test
