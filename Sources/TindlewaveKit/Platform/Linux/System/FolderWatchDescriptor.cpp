#include "Platform/Linux/System/FolderWatchDescriptor.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>

namespace tindlewave {
namespace {

// Writes count as they happen (IN_MODIFY), not only at close: a writer may keep the file open.
constexpr std::uint32_t contentEvents = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                        IN_MOVED_TO | IN_DELETE | IN_ATTRIB | IN_DELETE_SELF |
                                        IN_MOVE_SELF | IN_ONLYDIR;
// Entries come, go, move or change their attributes (mode, owner, ACLs); nothing is written.
constexpr std::uint32_t entryEvents = IN_CREATE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE |
                                      IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// Above the folder only what could bring the path back matters.
constexpr std::uint32_t ancestorEvents =
    IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// Higher still, a folder moved away leads the path elsewhere (and sends nothing below it).
constexpr std::uint32_t higherEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// What happens to a file itself rather than to the folder's list of names: with an entry given,
// these are watched on that entry alone, so that the other files' writes never wake the owner.
constexpr std::uint32_t fileEvents = IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB;

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

FolderWatchDescriptor::FolderWatchDescriptor(std::string folder, Changes changes,
                                             std::string entry)
    : folder_(withoutTrailingSlashes(std::move(folder))),
      mask_(changes == Changes::contents ? contentEvents : entryEvents),
      entry_(std::move(entry)),
      fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_.isOpen()) arm();
}

void FolderWatchDescriptor::disarm() {
    if (entryWatch_ >= 0) ::inotify_rm_watch(fd_.get(), entryWatch_);
    entryWatch_ = -1;
    if (watch_ >= 0) ::inotify_rm_watch(fd_.get(), watch_);
    for (int watch : above_) ::inotify_rm_watch(fd_.get(), watch);
    above_.clear();
    watch_ = -1;
    watchingFolder_ = false;
}

void FolderWatchDescriptor::watchAbove(std::string path) {
    for (;;) {
        std::string parent = parentOf(path);
        if (parent == path) return;
        path = parent;
        int watch = ::inotify_add_watch(fd_.get(), path.c_str(), higherEvents);
        if (watch >= 0 && watch != watch_) above_.push_back(watch);
    }
}

bool FolderWatchDescriptor::entryIsALink() const {
    struct stat info {};
    return !entry_.empty() && ::lstat((folder_ + "/" + entry_).c_str(), &info) == 0 &&
           S_ISLNK(info.st_mode);
}

void FolderWatchDescriptor::armEntry() {
    if (entryWatch_ >= 0) ::inotify_rm_watch(fd_.get(), entryWatch_);
    // Follows a link: the file it leads to is the one whose writes count. Missing: none.
    entryWatch_ = ::inotify_add_watch(fd_.get(), (folder_ + "/" + entry_).c_str(), mask_ & fileEvents);
}

bool FolderWatchDescriptor::arm() {
    disarm();
    // With an entry given, the folder tells only of names coming, going and moving (each may be
    // the entry's); the entry's own writes come from a watch on it. While the entry is a link,
    // it may lead to any file in the folder, so the folder tells of every file's writes too.
    entryLinked_ = entryIsALink();
    const std::uint32_t folderMask =
        entry_.empty() || entryLinked_ ? mask_ : (mask_ & ~fileEvents);
    // The folder may appear while a folder above it is being armed; looking again after arming
    // that one closes the gap, since its creation from then on is an event.
    for (int round = 0; round < 8; ++round) {
        int watch = ::inotify_add_watch(fd_.get(), folder_.c_str(), folderMask);
        if (watch >= 0) {
            if (watch_ >= 0 && watch_ != watch) ::inotify_rm_watch(fd_.get(), watch_);
            watch_ = watch;
            watchingFolder_ = true;
            struct stat info {};
            if (::stat(folder_.c_str(), &info) == 0) {
                device_ = info.st_dev;
                inode_ = info.st_ino;
            }
            watchAbove(folder_);
            if (!entry_.empty()) armEntry();
            return true;
        }
        std::string above = folder_;
        int ancestor = -1;
        while (ancestor < 0) {
            std::string parent = parentOf(above);
            if (parent == above) break;
            above = parent;
            ancestor = ::inotify_add_watch(fd_.get(), above.c_str(), ancestorEvents);
        }
        if (watch_ >= 0 && watch_ != ancestor) ::inotify_rm_watch(fd_.get(), watch_);
        watch_ = ancestor;
        struct stat info {};
        if (::stat(folder_.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            if (watch_ >= 0) watchAbove(above);
            return false;
        }
    }
    return false;
}

bool FolderWatchDescriptor::counts(const char* name, std::optional<bool>& linked) const {
    if (entry_.empty() || entry_ == name) return true;
    if (!linked) {
        struct stat info {};
        linked = ::lstat((folder_ + "/" + entry_).c_str(), &info) == 0 && S_ISLNK(info.st_mode);
    }
    return *linked;
}

bool FolderWatchDescriptor::drain() {
    if (!fd_.isOpen()) return false;
    alignas(inotify_event) char buffer[16384];
    bool changed = false;
    // Moving a watch takes the old one away, which queues a notice of its end: a second pass
    // reads that too, so that the move itself does not wake the owner again.
    for (int pass = 0; pass < 3; ++pass) {
        bool seen = false;          // this pass saw a change
        bool rearm = false;
        bool entryRenamed = false;  // the entry's name came, went or moved: its watch must follow
        std::optional<bool> linked;  // the entry is a link; looked up only when it matters
        for (;;) {
            ssize_t got = ::read(fd_.get(), buffer, sizeof buffer);
            if (got < 0) {
                if (errno == EINTR) continue;
                break;  // EAGAIN: drained
            }
            if (got == 0) break;
            for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += sizeof(inotify_event) + event->len;
                if (event->mask & IN_Q_OVERFLOW) {
                    seen = rearm = true;
                    continue;
                }
                if (event->wd == entryWatch_ && entryWatch_ >= 0) {
                    // The entry's own file: written, closed after writing, or its attributes.
                    if (event->mask & IN_IGNORED) entryWatch_ = -1;
                    if (watchingFolder_) seen = true;
                    continue;
                }
                if (event->wd != watch_) {
                    // A folder above moved or went: the path may lead somewhere else now.
                    if (std::find(above_.begin(), above_.end(), event->wd) != above_.end()) {
                        rearm = true;
                        if (watchingFolder_) seen = true;
                    }
                    continue;  // else a watch already given up
                }
                if (!watchingFolder_ ||
                    (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT))) {
                    rearm = true;
                }
                // An event of the folder itself has no name.
                if (watchingFolder_ && (event->len == 0 || counts(event->name, linked))) {
                    seen = true;
                }
                if (watchingFolder_ && event->len > 0 && !entry_.empty() && entry_ == event->name &&
                    (event->mask & (IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE))) {
                    entryRenamed = true;
                }
            }
        }
        // A folder replaced under its path (its parent renamed, say) sends nothing on the old
        // watch that says so; comparing identities catches it at the next event.
        if (!rearm && watchingFolder_) {
            struct stat info {};
            if (::stat(folder_.c_str(), &info) != 0 || info.st_dev != device_ ||
                info.st_ino != inode_) {
                rearm = seen = true;
            }
        }
        // A link put in the entry's place, or taken away, changes what the folder must tell of.
        if (!rearm && entryRenamed && entryIsALink() != entryLinked_) rearm = true;
        if (rearm) {
            if (arm()) seen = true;
        } else if (entryRenamed || (entryLinked_ && seen)) {
            // A link's file may have been replaced where it leads (outside the folder, say).
            armEntry();
        } else {
            changed = changed || seen;
            break;
        }
        changed = changed || seen;
    }
    return changed;
}

}  // namespace tindlewave
