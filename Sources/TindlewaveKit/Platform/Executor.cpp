#include "Platform/Executor.h"

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

}  // namespace tindlewave
