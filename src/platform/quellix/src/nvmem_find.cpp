#include "nvmem_find.h"

#include "sys.h"

#include <cstdio>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// The character-device major of i2c-dev nodes.
constexpr unsigned I2C_MAJOR = 89;

// The legacy file under the client, then the nvmem device below it, named
// after the client with or without an instance number.
constexpr const char *NVMEM_FILES[] = {"%s/eeprom", "%s/%s/nvmem", "%s/%s0/nvmem"};

bool exists(const char *path)
{
    struct stat st{};
    return qx_sys_stat(path, &st) == 0;
}

bool format(char *out, size_t size, const char *pattern, const char *dir, const char *name)
{
    const int n = std::snprintf(out, size, pattern, dir, name);
    return n > 0 && static_cast<size_t>(n) < size;
}

} // namespace

qx_route qx_nvmem_find(const char *device, uint8_t addr7, char *path, size_t size)
{
    struct stat st{};
    if (qx_sys_stat(device, &st) != 0 || !S_ISCHR(st.st_mode) || major(st.st_rdev) != I2C_MAJOR) {
        return qx_route::i2cdev;
    }
    char name[32];
    char client[4096];
    char driver[4096];
    std::snprintf(name, sizeof name, "%u-%04x", minor(st.st_rdev), unsigned{addr7});
    if (!format(client, sizeof client, "%s/bus/i2c/devices/%s", qx_sys_sysfs_root(), name) ||
        !format(driver, sizeof driver, "%s/driver", client, "") || !exists(driver)) {
        return qx_route::i2cdev;
    }
    for (const char *pattern : NVMEM_FILES) {
        if (format(path, size, pattern, client, name) && exists(path)) {
            return qx_route::nvmem;
        }
    }
    return qx_route::bound_without_file;
}
