#include "Platform/Executor.h"

#include <utility>

#include "Platform/FdRegistrar.h"
#include "Platform/Mailbox.h"

namespace tindlewave {

namespace {
thread_local const Executor* currentExecutor = nullptr;
}

Executor::Executor() : mailbox_(std::make_shared<Mailbox>(*this)) {}

Executor::~Executor() {
    closeMailbox();
}

void Executor::closeMailbox() {
    mailbox_->close();
}

void Mailbox::post(Executor::Job job) {
    {
        std::lock_guard lock(mutex_);
        if (target_ != nullptr) {
            target_->post(std::move(job));
            return;
        }
    }
    // Dropped: the job is destroyed here, outside the lock.
}

void Mailbox::close() {
    std::lock_guard lock(mutex_);
    target_ = nullptr;
}

const Executor* Executor::current() {
    return currentExecutor;
}

Executor::CurrentScope::CurrentScope(const Executor* executor) : previous_(currentExecutor) {
    currentExecutor = executor;
}

Executor::CurrentScope::~CurrentScope() {
    currentExecutor = previous_;
}

FdRegistrar* FdRegistrar::of(Executor& executor) {
    return dynamic_cast<FdRegistrar*>(&executor);
}

}  // namespace tindlewave
