#pragma once
// The temporary file of one whole-file save (file_save.h), for the file layer only. It is
// made beside the target under a name that tells which target and which process it is of,
//   "." + the target's name + "." + the writer's process id + "." + 8 random letters,
// and its writer holds an OFD lock on one byte of it (far past any data, so no reader's
// range probe meets it) from just after making it until it is renamed over the target or
// removed. A save killed in between leaves it behind; the next save or load of the same
// target removes those whose writer is gone.
//
// Dead or alive: a temporary is removed only when the process id in its name runs no
// process (a running one, also an id used again, keeps it) and its lock byte can be taken.
// The id alone cannot speak for a writer in another pid namespace, the lock alone not for a
// writer between making its file and locking it; together they can. A remover holds a
// shared lock of the byte while it unlinks, and a writer that finds its file unlinked once
// it holds its own lock (a remover came in that moment) makes another. The kernel drops the
// lock with the writer's last descriptor however the writer ends.
#include <string>

#include "platform/unique_fd.h"

namespace platform {

class SaveTemporary {
  public:
    SaveTemporary() = default;
    SaveTemporary(const SaveTemporary&) = delete;
    SaveTemporary& operator=(const SaveTemporary&) = delete;
    // Removes the file unless it was committed.
    ~SaveTemporary();

    // A new temporary for `target` (a resolved save target), after removing the dead ones
    // of the same target. 0 / -1.
    int create(const std::string& target);
    int fd() const { return fd_.get(); }

    // Synced and renamed over `target`, the folder synced; the lock is held until the
    // rename is done. 0 / -1 (the temporary is then removed by the destructor).
    int commit(const std::string& target);

  private:
    UniqueFd fd_;
    std::string path_;
};

// The folder `path` lies in ("." for a bare name).
std::string folder_of(const std::string& path);
// Syncs the folder `path` lies in (a rename is on disk only once its folder is).
void sync_folder_of(const std::string& path);

}  // namespace platform
