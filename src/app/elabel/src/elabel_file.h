// Durable file writes, for the store's pending-write record, its kept labels
// and the label files of elabel-image: whole writes and reads, and directory
// syncs, through the store's platform table.
#ifndef ELABEL_FILE_H
#define ELABEL_FILE_H

#include <cstddef>
#include <cstdint>

#include <sys/types.h>

// Writes all `len` bytes, through short writes and interruptions. 0 or -errno.
int elabel_write_all(int fd, const uint8_t *data, size_t len);

// Reads up to `max` bytes, through short reads and interruptions: the count
// read, or -1 with errno set.
ssize_t elabel_read_all(int fd, uint8_t *data, size_t max);

// Syncs the directory that holds `path`, so that a new, renamed or removed
// entry there survives a power loss. 0 or -errno.
int elabel_sync_parent(const char *path);

// The steps of storing a file, to say which one failed.
enum class elabel_store_step { create, write, fsync, close, publish, fsync_dir };
const char *elabel_store_step_name(elabel_store_step step);

// Who a replacing file belongs to: the file it replaces keeps its mode, and
// its owner when the caller may give it.
struct elabel_file_owner {
    mode_t mode;
    uid_t uid;
    gid_t gid;
    bool chown;
};

// Where and how a file is stored: a temporary `temp` beside `path` (a stale
// one of that name removed first; a name ending in "XXXXXX" is made unique
// instead), created exclusively with `mode` (less the umask), never through a
// link; renamed over `path` (`replace`) or linked at `path` only where nothing
// is there (EEXIST otherwise). `owner`, when given, is applied to the
// temporary before it is published.
struct elabel_store_target {
    const char *path;
    char *temp;
    bool replace;
    mode_t mode;
    const elabel_file_owner *owner;
};

// The one durable file write: the temporary written whole, synced and closed,
// published at the path, then the directory synced, so that a power loss at
// any instant leaves the old file or the new one whole. 0; or -1 with errno
// and `*failed` set, and the temporary gone. When only the directory sync
// failed, the file is in place.
int elabel_store_file(const elabel_store_target &dest, const uint8_t *data, size_t len,
                      elabel_store_step *failed);

#endif
