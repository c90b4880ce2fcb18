#include "Platform/Executor.h"

#include "Platform/FdRegistrar.h"

namespace tindlewave {

namespace {
thread_local const Executor* currentExecutor = nullptr;
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
