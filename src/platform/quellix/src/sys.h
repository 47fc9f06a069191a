// The system calls under the i2c-dev transport, with the C library's signatures
// and results. The board build links sys_posix.cpp, which makes the calls
// themselves; a host test links a scripted adapter and clock in their place.
#ifndef QUELLIX_SYS_H
#define QUELLIX_SYS_H

#include <ctime>

int qx_sys_open(const char *path, int flags);
int qx_sys_ioctl(int fd, unsigned long request, void *arg);
int qx_sys_close(int fd);
int qx_sys_clock_gettime(clockid_t clock, timespec *ts);
int qx_sys_clock_nanosleep(clockid_t clock, int flags, const timespec *request, timespec *remain);

#endif
