#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Linux/System/UniqueFd.h"

namespace tindlewave {

// Watches one folder, named by its path, for changes to what it holds: files created, written
// (each write, even while the writer keeps the file open), closed after writing, moved in or out,
// deleted, or given new attributes (`Changes::entries`: all but the writes, so that a folder of
// device nodes written and read all the time stays quiet). Given an entry's name, only that
// entry's changes count, and every entry's while that name holds a symbolic link (it may lead to
// any of them); the folder's own (made, gone, replaced) always do. While it is no link, the other
// files' writes and attributes do not even make fd() readable, so they wake no one: the folder is watched only
// for names coming, going and moving, and the entry's file (the one a link leads to) for its
// writes and attributes. The watch follows the path rather
// than the folder first found there: when the folder is deleted, moved away or not there yet, the
// nearest existing folder above it is watched until the path leads to a folder again.
//
// This is only the descriptor-driven part: whoever drives it waits for fd() to become readable
// (poll, epoll or an executor's fd source) and then calls drain(). It is not thread-safe; one
// thread or executor owns it.
class FolderWatchDescriptor {
  public:
    enum class Changes { contents, entries };
    // `entry`: the one name in the folder whose changes count; empty: every name's.
    explicit FolderWatchDescriptor(std::string folder, Changes changes = Changes::contents,
                                   std::string entry = {});
    FolderWatchDescriptor(const FolderWatchDescriptor&) = delete;
    FolderWatchDescriptor& operator=(const FolderWatchDescriptor&) = delete;

    // False when the system refused an inotify instance; nothing is then ever seen.
    bool isValid() const { return fd_.isOpen(); }
    // Readable whenever events are waiting; non-blocking.
    int fd() const { return fd_.get(); }
    const std::string& folder() const { return folder_; }

    // Reads every waiting event and follows the path where needed. True when anything in the
    // folder may have changed (including the folder itself appearing, going or being replaced).
    bool drain();

  private:
    // Watches the folder, or else the nearest existing folder above it. True when this moved the
    // watch onto the folder itself (its content may have changed unseen meanwhile).
    bool arm();
    void disarm();
    // Watches every folder above `path` for being moved or deleted.
    void watchAbove(std::string path);
    // Whether an entry of this name changing counts; `linked` is looked up at most once a drain.
    bool counts(const char* name, std::optional<bool>& linked) const;
    bool entryIsALink() const;
    // Watches the file now under the entry's name (the one a link leads to) for its writes and
    // attributes, in place of the file watched before.
    void armEntry();

    const std::string folder_;
    const std::uint32_t mask_;  // what counts in the folder itself
    const std::string entry_;   // the one entry whose changes count, or empty for all
    UniqueFd fd_;
    int watch_ = -1;               // the current watch descriptor, or -1
    int entryWatch_ = -1;          // the watch on the entry's file, or -1
    bool entryLinked_ = false;     // the entry was a link when the folder was last armed
    std::vector<int> above_;       // watches on the folders above watch_'s, for their moves
    bool watchingFolder_ = false;  // the watch is on the folder itself, not on a folder above it
    dev_t device_ = 0;             // identity of the watched folder, to notice a replaced one
    ino_t inode_ = 0;
};

}  // namespace tindlewave
