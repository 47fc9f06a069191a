// The system calls under the board's transports, with the C library's
// signatures and results. The board build links sys_posix.cpp, which makes the
// calls themselves; a host test links a scripted adapter, clock and file system
// in their place.
#ifndef QUELLIX_SYS_H
#define QUELLIX_SYS_H

#include <cstddef>
#include <ctime>
#include <sys/stat.h>
#include <sys/types.h>

int qx_sys_open(const char *path, int flags);
int qx_sys_ioctl(int fd, unsigned long request, void *arg);
int qx_sys_close(int fd);
int qx_sys_clock_gettime(clockid_t clock, timespec *ts);
int qx_sys_clock_nanosleep(clockid_t clock, int flags, const timespec *request, timespec *remain);
int qx_sys_stat(const char *path, struct stat *st);
ssize_t qx_sys_pread(int fd, void *buffer, size_t count, off_t offset);
ssize_t qx_sys_pwrite(int fd, const void *buffer, size_t count, off_t offset);
// Where sysfs is mounted: "/sys" on the board.
const char *qx_sys_sysfs_root();

#endif
