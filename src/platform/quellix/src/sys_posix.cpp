#include "sys.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <unistd.h>

int qx_sys_open(const char *path, int flags)
{
    return open(path, flags);
}

int qx_sys_ioctl(int fd, unsigned long request, void *arg)
{
    return ioctl(fd, request, arg);
}

int qx_sys_close(int fd)
{
    return close(fd);
}

int qx_sys_clock_gettime(clockid_t clock, timespec *ts)
{
    return clock_gettime(clock, ts);
}

int qx_sys_clock_nanosleep(clockid_t clock, int flags, const timespec *request, timespec *remain)
{
    return clock_nanosleep(clock, flags, request, remain);
}

int qx_sys_stat(const char *path, struct stat *st)
{
    return stat(path, st);
}

ssize_t qx_sys_pread(int fd, void *buffer, size_t count, off_t offset)
{
    return pread(fd, buffer, count, offset);
}

ssize_t qx_sys_pwrite(int fd, const void *buffer, size_t count, off_t offset)
{
    return pwrite(fd, buffer, count, offset);
}

const char *qx_sys_sysfs_root()
{
    return "/sys";
}
