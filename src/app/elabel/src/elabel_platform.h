// The platform calls the label store makes, gathered in one table so that
// tests can put a fake device, a captured log or injected faults behind them.
// One entry per system call, grouped: the EEPROM on its bus, memory, files
// (the lock file, the pending-write record and label files), time and the log.
#ifndef ELABEL_PLATFORM_H
#define ELABEL_PLATFORM_H

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>

#include <cstddef>
#include <cstdint>

#include "securec.h"

// The EEPROM, through the platform I2C library.
struct elabel_bus_ops {
    int32_t (*read)(const char *device, int8_t address, uint64_t offset, uint8_t *buffer,
                    uint32_t length);
    int32_t (*write)(const char *device, int8_t address, uint64_t offset, uint8_t *buffer,
                     uint32_t length);
};

// Bounds-checked copies and the heap.
struct elabel_memory_ops {
    errno_t (*copy)(void *dest, size_t dest_max, const void *src, size_t count);
    errno_t (*fill)(void *dest, size_t dest_max, int c, size_t count);
    void *(*alloc)(size_t size);
    void (*dealloc)(void *block);
};

// Each returns what the system call of its name does, errno set.
struct elabel_file_ops {
    int (*open)(const char *path, int flags, mode_t mode);
    int (*fcntl_lock)(int fd, int cmd, struct flock *lock);
    ssize_t (*read)(int fd, void *buffer, size_t count);
    ssize_t (*write)(int fd, const void *buffer, size_t count);
    int (*fsync)(int fd);
    int (*close)(int fd);
    int (*rename)(const char *from, const char *to);
    int (*link)(const char *from, const char *to);
    int (*unlink)(const char *path);
    int (*mkdir)(const char *path, mode_t mode);
    DIR *(*opendir)(const char *path);
    struct dirent *(*readdir)(DIR *dir);
    int (*closedir)(DIR *dir);
    int (*lstat)(const char *path, struct stat *st);
    int (*fchmod)(int fd, mode_t mode);
    int (*fchown)(int fd, uid_t owner, gid_t group);
    int (*fstat)(int fd, struct stat *st);
};

struct elabel_platform_ops {
    elabel_bus_ops bus;
    elabel_memory_ops memory;
    elabel_file_ops file;
    const char *record_dir;  // where the pending-write record lives; nullptr: no record
    const char *publish_dir;  // where the label is published for every reader; nullptr: nowhere
    int (*sleep_us)(useconds_t usec);
    time_t (*time)(time_t *now);
    void (*log_line)(int priority, const char *line);
};

extern elabel_platform_ops elabel_platform;

// Puts the real platform calls back into the table.
void elabel_platform_reset();

#endif
