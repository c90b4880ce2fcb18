#include "Shell/TerminationSignal.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace tindlewave {

namespace {
constexpr std::array quittingSignals{SIGTERM, SIGINT, SIGHUP};
int pipeFds[2] = {-1, -1};
std::array<struct sigaction, quittingSignals.size()> previousActions{};

extern "C" void onTerminationSignal(int signal) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] auto written = ::write(pipeFds[0], &byte, 1);
    errno = saved;
}
}  // namespace

HeldTerminationSignals::HeldTerminationSignals() {
    sigset_t quitting;
    sigemptyset(&quitting);
    for (int signal : quittingSignals) sigaddset(&quitting, signal);
    held_ = ::pthread_sigmask(SIG_BLOCK, &quitting, &previous_) == 0;
}

void HeldTerminationSignals::release() {
    if (!held_) return;
    held_ = false;
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

TerminationSignal::TerminationSignal(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    if (pipeFds[0] >= 0) return;  // another instance owns the signals
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
    installed_ = true;
    for (std::size_t i = 0; i < quittingSignals.size(); ++i)
        installed_ = ::sigaction(quittingSignals[i], &action, &previousActions[i]) == 0 && installed_;
}

TerminationSignal::~TerminationSignal() {
    if (!notifier_) return;
    for (std::size_t i = 0; i < quittingSignals.size(); ++i)
        ::sigaction(quittingSignals[i], &previousActions[i], nullptr);
    delete notifier_;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

std::string TerminationSignal::name(int signal) {
    const char* abbreviation = ::sigabbrev_np(signal);
    return abbreviation ? std::string("SIG") + abbreviation : "signal " + std::to_string(signal);
}

void TerminationSignal::readSignal() {
    unsigned char buffer[16];
    ssize_t count = 0;
    while ((count = ::read(pipeFds[1], buffer, sizeof buffer)) > 0)
        for (ssize_t i = 0; i < count; ++i)
            if (onSignal_) onSignal_(buffer[i]);
}

}  // namespace tindlewave
