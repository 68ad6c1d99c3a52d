#include "base/ending_signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace Lifetime {

namespace {

// [0] is read on the window thread, [1] is written by the signal handler.
int wakeFds[2] = {-1, -1};

extern "C" void onEndingSignal(int signalNumber) {
    const int saved = errno;
    const char byte = static_cast<char>(signalNumber);
    // A full socket already holds a wake-up; nothing more is needed.
    [[maybe_unused]] const ssize_t written = ::write(wakeFds[1], &byte, 1);
    errno = saved;
}

} // namespace

void EndOnSignals(std::function<void()> endProgram) {
    if (wakeFds[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, wakeFds) != 0) {
        wakeFds[0] = wakeFds[1] = -1;
        return; // the signals keep their default action: the program ends at once, as before
    }

    // Goes with the application object.
    auto* notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [endProgram = std::move(endProgram)] {
        char bytes[64];
        while (::read(wakeFds[0], bytes, sizeof bytes) > 0) {
        }
        endProgram();
    });

    struct sigaction action {};
    action.sa_handler = onEndingSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signalNumber, &action, nullptr);
}

} // namespace Lifetime
