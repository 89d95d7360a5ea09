// Answers the program's modal dialogs the way a person would, while the code
// under test runs their nested event loops: every few milliseconds the
// newest visible dialog of type T is handed to a callback, which clicks or
// closes it.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <functional>

namespace kvtest {

template <class T> class DialogDriver
{
public:
    // `answer` gets each dialog once; it must end the dialog.
    explicit DialogDriver(std::function<void(T&)> answer) : answer(std::move(answer))
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] { Poll(); });
        timer.start();
    }

    int handled = 0;

private:
    void Poll()
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            T* dlg = qobject_cast<T*>(w);
            if (dlg && dlg->isVisible() && dlg != last) {
                last = dlg;
                ++handled;
                answer(*dlg);
                return;
            }
        }
    }

    std::function<void(T&)> answer;
    QPointer<T> last;
    QTimer timer;
};

// Runs the event loop until `done` holds or `ms` pass; whether it held.
inline bool WaitFor(const std::function<bool()>& done, int ms = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

} // namespace kvtest
