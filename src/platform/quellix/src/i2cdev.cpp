#include "i2cdev.h"

#include "sys.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>

namespace {

int device_ioctl(void *ctx, unsigned long request, void *arg)
{
    const int fd = *static_cast<const int *>(ctx);
    const int r = qx_sys_ioctl(fd, request, arg);
    return r < 0 ? -errno : r;
}

uint64_t monotonic_ns(void *)
{
    timespec ts{};
    qx_sys_clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

void sleep_ns(void *, uint64_t ns)
{
    timespec ts{static_cast<time_t>(ns / 1000000000u), static_cast<long>(ns % 1000000000u)};
    while (qx_sys_clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
    }
}

} // namespace

int qx_i2cdev_open(const char *device, int *fd, qx_bus *bus)
{
    const int opened = qx_sys_open(device, O_RDWR | O_CLOEXEC);
    if (opened < 0) {
        return -errno;
    }
    *fd = opened;
    *bus = qx_bus{device_ioctl, monotonic_ns, sleep_ns, fd};
    return 0;
}

void qx_i2cdev_close(int fd)
{
    qx_sys_close(fd);
}
