#include "Shell/QtMainExecutor.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>

#include "Platform/Clock.h"
#include "Runtime/Executors/TimerQueue.h"

namespace tindlewave {

QtMainExecutor::QtMainExecutor(const Clock& clock)
    : clock_(clock), context_(std::make_unique<QObject>()), timer_(new QTimer(context_.get())),
      timers_(TimerQueue::make()) {
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_, &QTimer::timeout, context_.get(), [this] { runDueTimers(); });
}

QtMainExecutor::~QtMainExecutor() {
    closeMailbox();
    timers_->clear();
}

void QtMainExecutor::post(Job job) {
    // Queued onto the context object: the job runs on the GUI thread's event loop, and not at all
    // once the executor (and so the context) is gone.
    QMetaObject::invokeMethod(
        context_.get(),
        [this, job = std::move(job)] {
            CurrentScope scope(this);
            job();
        },
        Qt::QueuedConnection);
}

TimerHandle QtMainExecutor::schedule(Instant deadline, Job job) {
    bool earliest = false;
    auto handle = timers_->add(deadline, std::move(job), &earliest);
    if (earliest) {
        // The QTimer belongs to the GUI thread: arm it there.
        QMetaObject::invokeMethod(context_.get(), [this] { armTimer(); }, Qt::QueuedConnection);
    }
    return handle;
}

void QtMainExecutor::armTimer() {
    const auto next = timers_->nextDeadline();
    if (!next) {
        timer_->stop();
        return;
    }
    using namespace std::chrono;
    const auto wait = *next - clock_.now();
    // Rounded up to whole milliseconds: a timer never fires before its deadline (an early wake
    // finds nothing due and arms again).
    const auto ms = wait <= Duration::zero() ? 0 : (duration_cast<nanoseconds>(wait).count() + 999'999) / 1'000'000;
    timer_->start(static_cast<int>(std::min<long long>(ms, 24LL * 3600 * 1000)));
}

void QtMainExecutor::runDueTimers() {
    CurrentScope scope(this);
    while (auto job = timers_->popDue(clock_.now())) (*job)();
    armTimer();
}

int QtMainExecutor::exec() {
    CurrentScope scope(this);
    return QCoreApplication::exec();
}

}  // namespace tindlewave
