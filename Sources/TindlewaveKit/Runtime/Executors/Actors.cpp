#include "Runtime/Executors/Actors.h"

#include <string>

#include "Runtime/Executors/RunLoopExecutor.h"

namespace tindlewave {

RunLoopExecutor& hidExecutor() {
    static RunLoopExecutor executor(std::string(bundleIdentifier) + ".hid");
    return executor;
}

RunLoopExecutor& tapExecutor() {
    static RunLoopExecutor executor(std::string(bundleIdentifier) + ".tap");
    return executor;
}

}  // namespace tindlewave
