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

#endif
