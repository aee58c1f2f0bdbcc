#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <atomic>
#include <thread>

namespace tonelark {

// Runs `work` on a thread of its own while the calling thread keeps handling its events: the
// window repaints, its clock and the session bus go on, while a large song is read, parsed and
// registered for seconds. User input waits until the work is done, so nothing the user does
// acts on a song half loaded. The caller holds a ModalLoopGuard: a song that arrives meanwhile
// waits at the gate. Returns only once the work is done, also when the application quits
// meanwhile (the loop then ends early and the thread is joined). Without an application
// object the work simply runs here.
template <typename Work>
void runWhileAnswering(Work &&work)
{
    if (!QCoreApplication::instance()) {
        work();
        return;
    }
    QEventLoop loop;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    if (!done)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
}

} // namespace tonelark
