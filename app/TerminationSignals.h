#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP (a logout, `kill`, Ctrl+C in a terminal) become a Qt signal on
// the thread that made this object, so the program can end as at a normal close: settings
// saved, the output device closed (a synchronous JACK server is not left waiting for a
// client that vanished). The handler only writes the signal's number to a pipe, which is
// all that is safe inside a signal handler; a socket notifier reads it in the event loop.
// One object at a time; its destruction restores the previous handlers.
namespace tonelark {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

    // The first signal received, 0 before one.
    int firstSignal() const { return m_first; }

signals:
    void received(int signalNumber);

private:
    void drain();

    int m_pipe[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
    int m_first = 0;
    struct sigaction m_previous[3] {};
};

} // namespace tonelark
