// The board's transport: a Linux i2c-dev bus device and the monotonic clock.
#ifndef QUELLIX_I2CDEV_H
#define QUELLIX_I2CDEV_H

#include "bus.h"

// Opens `device` read-write with close-on-exec and fills `bus`; the descriptor
// stays in `*fd` until qx_i2cdev_close. Returns 0 or -errno.
int qx_i2cdev_open(const char *device, int *fd, qx_bus *bus);
void qx_i2cdev_close(int fd);

#endif
