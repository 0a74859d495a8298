#include "base/stopsignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX

int pipeFds[2] = {-1, -1};
const int handledSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previousActions[std::size(handledSignals)];

// Only what is safe in a signal handler: one write, errno kept.
void onSignal(int number)
{
    const int saved = errno;
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

#endif

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent)
{
#ifdef Q_OS_UNIX
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeFds) != 0)
        return;
    ::fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
    notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &StopSignals::readPipe);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Calls under way go on; the next signal of the kind acts as if unhandled.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (std::size_t i = 0; i < std::size(handledSignals); ++i)
        ::sigaction(handledSignals[i], &action, &previousActions[i]);
#endif
}

StopSignals::~StopSignals()
{
#ifdef Q_OS_UNIX
    if (!notifier)
        return;
    for (std::size_t i = 0; i < std::size(handledSignals); ++i)
        ::sigaction(handledSignals[i], &previousActions[i], nullptr);
    delete notifier;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
#endif
}

void StopSignals::readPipe()
{
#ifdef Q_OS_UNIX
    char byte = 0;
    if (::read(pipeFds[0], &byte, 1) != 1)
        return;
    switch (byte) {
    case SIGINT:
        emit stopRequested(QStringLiteral("SIGINT"));
        break;
    case SIGHUP:
        emit stopRequested(QStringLiteral("SIGHUP"));
        break;
    default:
        emit stopRequested(QStringLiteral("SIGTERM"));
    }
#endif
}
