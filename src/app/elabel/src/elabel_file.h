// Durable file writes, for the store's pending-write record and for the label
// files of elabel-image: whole writes and reads, and directory syncs, through
// the store's platform table.
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

// Stores `len` bytes at `path` so that a power loss at any instant leaves the
// old file or the new one whole: a temporary `temp` (any stale one removed,
// then created exclusively, 0600, never through a link) is written, synced
// and closed, then renamed over `path` (`replace`) or linked at `path` only
// where nothing is there (EEXIST otherwise) and removed; then the directory
// is synced. 0; or -1 with errno and `*failed` set, and the temporary gone.
// When only the directory sync failed, the file is in place.
int elabel_store_file(const char *path, const char *temp, const uint8_t *data, size_t len,
                      bool replace, elabel_store_step *failed);

#endif
