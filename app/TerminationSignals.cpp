#include "TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tonelark {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

volatile std::sig_atomic_t g_writeFd = -1;

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    // A full pipe drops the byte; enough are already waiting to end the program.
    [[maybe_unused]] const ssize_t written = ::write(g_writeFd, &number, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;   // without a pipe the signals keep their default: the program ends at once
    g_writeFd = m_pipe[1];
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::drain);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &action, &m_previous[i]);
}

TerminationSignals::~TerminationSignals()
{
    if (m_pipe[0] < 0)
        return;
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &m_previous[i], nullptr);
    g_writeFd = -1;
    delete m_notifier;
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void TerminationSignals::drain()
{
    unsigned char numbers[16];
    ssize_t got;
    while ((got = ::read(m_pipe[0], numbers, sizeof numbers)) > 0) {
        for (ssize_t i = 0; i < got; ++i) {
            if (m_first == 0)
                m_first = numbers[i];
            emit received(numbers[i]);
        }
    }
}

} // namespace tonelark
