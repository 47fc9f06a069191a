// The platform calls the label store makes, gathered in one table so that
// tests can put a fake device, a captured log or injected faults behind them.
#ifndef ELABEL_PLATFORM_H
#define ELABEL_PLATFORM_H

#include <fcntl.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "securec.h"

struct elabel_platform_ops {
    int32_t (*i2c_read)(const char *device, int8_t address, uint64_t offset, uint8_t *buffer,
                        uint32_t length);
    int32_t (*i2c_write)(const char *device, int8_t address, uint64_t offset, uint8_t *buffer,
                         uint32_t length);
    errno_t (*copy)(void *dest, size_t dest_max, const void *src, size_t count);
    errno_t (*fill)(void *dest, size_t dest_max, int c, size_t count);
    void *(*alloc)(size_t size);
    void (*dealloc)(void *block);
    int (*open_file)(const char *path, int flags, mode_t mode);
    int (*lock_file)(int fd, int cmd, struct flock *lock);
    int (*close_file)(int fd);
    int (*sleep_us)(useconds_t usec);
    void (*log_line)(int priority, const char *line);
    const char *record_dir;  // where the pending-write record lives; nullptr: no record
    // The pending-write record's files; each returns what the system call does, errno set.
    int (*file_open)(const char *path, int flags, mode_t mode);
    ssize_t (*file_read)(int fd, void *buffer, size_t count);
    ssize_t (*file_write)(int fd, const void *buffer, size_t count);
    int (*file_sync)(int fd);
    int (*file_close)(int fd);
    int (*file_rename)(const char *from, const char *to);
    int (*file_unlink)(const char *path);
    int (*file_mkdir)(const char *path, mode_t mode);
};

extern elabel_platform_ops elabel_platform;

// Puts the real platform calls back into the table.
void elabel_platform_reset();

#endif
