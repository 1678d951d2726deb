#pragma once

#include <QApplication>
#include <QTimer>

#include <functional>

// Runs act on the next dialog of type T that opens modally, from inside the dialog's own event
// loop, the way a user acts on a window that has just appeared. Gives up after about ten seconds.
template <class T> void whenModalShows(std::function<void(T *)> act, int triesLeft = 1000) {
    QTimer::singleShot(triesLeft == 1000 ? 0 : 10, qApp, [act = std::move(act), triesLeft] {
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            act(dialog);
            return;
        }
        if (triesLeft > 0)
            whenModalShows<T>(act, triesLeft - 1);
    });
}
