// Which way the board reaches the EEPROM: a kernel driver bound to its address
// owns the chip (the device tree declared it, or someone wrote new_device), and
// then its nvmem file is the way; otherwise the i2c-dev bus device.
#ifndef QUELLIX_NVMEM_FIND_H
#define QUELLIX_NVMEM_FIND_H

#include <cstddef>
#include <cstdint>

enum class qx_route { i2cdev, nvmem, bound_without_file };

// The adapter behind the i2c-dev node `device` is its minor number; its client
// at `addr7` is <sysfs>/bus/i2c/devices/<adapter>-00<addr7>. A driver link there
// and one of the nvmem files the EEPROM drivers offer give qx_route::nvmem with
// the file's path in `path`. A device that is not an i2c-dev node, or a client
// without a driver, gives qx_route::i2cdev.
qx_route qx_nvmem_find(const char *device, uint8_t addr7, char *path, size_t size);

#endif
