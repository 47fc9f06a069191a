// Durable file writes, for the store's pending-write record and for the label
// files of elabel-image: whole writes and directory syncs.
#ifndef ELABEL_FILE_H
#define ELABEL_FILE_H

#include <cstddef>
#include <cstdint>

// Writes all `len` bytes, through short writes and interruptions. 0 or -errno.
int elabel_write_all(int fd, const uint8_t *data, size_t len);

// Syncs the directory that holds `path`, so that a new, renamed or removed
// entry there survives a power loss. 0 or -errno.
int elabel_sync_parent(const char *path);

#endif
