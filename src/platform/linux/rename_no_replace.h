#pragma once

namespace bv {

// The system calls behind renameFileNoReplace, replaceable so tests can
// play a file system that refuses them, as NFS, CIFS and many FUSE file
// systems do.
namespace platform::detail {

struct RenameCalls {
    // renameat2(RENAME_NOREPLACE) on the working directory; -1 and errno.
    int (*renameNoReplace)(const char* from, const char* to);
    int (*link)(const char* from, const char* to);
};

// Not synchronised: set it while no other thread renames.
extern RenameCalls renameCalls;
RenameCalls systemRenameCalls();

}  // namespace platform::detail

}  // namespace bv
