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
// The end the handler writes to, that of the instance that owns the signals; -1 while none does.
int handlerEnd = -1;
std::array<struct sigaction, quittingSignals.size()> previousActions{};

extern "C" void onTerminationSignal(int signal) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] auto written = ::write(handlerEnd, &byte, 1);
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
    if (handlerEnd >= 0) return;  // another instance owns the signals
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0) return;
    writeEnd_.reset(ends[0]);
    readEnd_.reset(ends[1]);
    handlerEnd = writeEnd_.get();
    notifier_ = new QSocketNotifier(readEnd_.get(), QSocketNotifier::Read, this);
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
    handlerEnd = -1;  // the pair is closed as the members go
}

std::string TerminationSignal::name(int signal) {
    const char* abbreviation = ::sigabbrev_np(signal);
    return abbreviation ? std::string("SIG") + abbreviation : "signal " + std::to_string(signal);
}

void TerminationSignal::readSignal() {
    unsigned char buffer[16];
    ssize_t count = 0;
    while ((count = ::read(readEnd_.get(), buffer, sizeof buffer)) > 0)
        for (ssize_t i = 0; i < count; ++i)
            if (onSignal_) onSignal_(buffer[i]);
}

}  // namespace tindlewave
