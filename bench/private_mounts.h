// The benchmarks run the production tool as root. In a mount namespace of
// their own, with tmpfs on /run and on the parent of the pending-write record's
// directory, they leave the host's lock file and record untouched.
#ifndef BENCH_PRIVATE_MOUNTS_H
#define BENCH_PRIVATE_MOUNTS_H

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <string>

inline bool bench_private_mounts()
{
    const std::string dir = ELABEL_RECORD_DIR;
    const size_t slash = dir.find_last_of('/');
    const std::string parent =
        slash == std::string::npos || slash == 0 ? std::string() : dir.substr(0, slash);
    return geteuid() == 0 && !parent.empty() && unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("bench", "/run", "tmpfs", 0, "mode=0755") == 0 &&
           mount("bench", parent.c_str(), "tmpfs", 0, "mode=0755") == 0;
}

#endif
