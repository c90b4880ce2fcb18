#include "Shell/ToolkitRuntimeFolder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <cstdlib>

#include "Platform/Linux/System/Files.h"

namespace tindlewave {

ToolkitRuntimeFolder::ToolkitRuntimeFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) return;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    const std::string user =
        ::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found
            ? std::string(found->pw_name)
            : std::to_string(::getuid());
    path_ = QDir::tempPath().toStdString() + "/runtime-" + user;
    struct stat info {};
    if (::lstat(path_.c_str(), &info) == 0) {
        path_.clear();  // not this run's
        return;
    }
    // Also when the toolkit exits at once (its display gone), before this is destroyed.
    files::atExit([path = path_] { ::rmdir(path.c_str()); });
}

ToolkitRuntimeFolder::~ToolkitRuntimeFolder() {
    if (!path_.empty()) ::rmdir(path_.c_str());
}

}  // namespace tindlewave
