#include "Shell/TerminationSignal.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tindlewave {

namespace {
int pipeFds[2] = {-1, -1};
struct sigaction previousAction {};

extern "C" void onTerminationSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(pipeFds[0], &byte, 1);
    errno = saved;
}
}  // namespace

TerminationSignal::TerminationSignal(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    if (pipeFds[0] >= 0) return;  // another instance owns the signal
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pipeFds) != 0) {
        pipeFds[0] = pipeFds[1] = -1;
        return;
    }
    notifier_ = new QSocketNotifier(pipeFds[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { readSignal(); });

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    installed_ = ::sigaction(SIGTERM, &action, &previousAction) == 0;
}

TerminationSignal::~TerminationSignal() {
    if (!notifier_) return;
    if (installed_) ::sigaction(SIGTERM, &previousAction, nullptr);
    delete notifier_;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void TerminationSignal::readSignal() {
    char buffer[16];
    bool received = false;
    while (::read(pipeFds[1], buffer, sizeof buffer) > 0) received = true;
    if (received && onSignal_) onSignal_();
}

}  // namespace tindlewave
