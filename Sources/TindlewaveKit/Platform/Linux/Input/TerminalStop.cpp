#include "Platform/Linux/Input/TerminalStop.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <thread>

#include "Platform/Linux/Input/LinuxEventSystem.h"

namespace tindlewave {

namespace {

void stopLikeTheDefaultAction() {
    // SIGTSTP is blocked here: raised at this thread it waits, and once unblocked its default
    // action stops the whole process before the unblocking call returns (on SIGCONT).
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    ::pthread_kill(::pthread_self(), SIGTSTP);
    ::pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
    ::pthread_sigmask(SIG_BLOCK, &stop, nullptr);
}

}  // namespace

void releaseInputOnTerminalStop() {
    struct sigaction current {};
    if (::sigaction(SIGTSTP, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) return;
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    if (::pthread_sigmask(SIG_BLOCK, &stop, nullptr) != 0) return;
    // Made with every signal blocked, so that it takes none of the others: a quitting signal the
    // program holds back until it handles it must not reach this thread's default action.
    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, &previous);
    std::thread([stop] {
        for (;;) {
            siginfo_t info{};
            if (::sigwaitinfo(&stop, &info) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            LinuxEventSystem::suspendAll();
            stopLikeTheDefaultAction();
            LinuxEventSystem::resumeAll();
        }
    }).detach();
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace tindlewave
