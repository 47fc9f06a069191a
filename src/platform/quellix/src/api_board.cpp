// The board build: the three library calls, through the nvmem file of a kernel
// driver bound to the chip, otherwise over i2c-dev.
#include "quellix.h"

#include "api_args.h"
#include "eeprom.h"
#include "i2cdev.h"
#include "nvmem.h"
#include "nvmem_find.h"
#include "sys.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

namespace {

struct request {
    bool write;
    const char *device;
    uint8_t addr7;
    uint32_t offset;
    uint8_t *buffer;
    uint32_t length;
};

long file_pread(void *ctx, uint8_t *buffer, size_t count, uint64_t offset)
{
    const ssize_t n = qx_sys_pread(*static_cast<const int *>(ctx), buffer, count,
                                   static_cast<off_t>(offset));
    return n < 0 ? -errno : static_cast<long>(n);
}

long file_pwrite(void *ctx, const uint8_t *buffer, size_t count, uint64_t offset)
{
    const ssize_t n = qx_sys_pwrite(*static_cast<const int *>(ctx), buffer, count,
                                    static_cast<off_t>(offset));
    return n < 0 ? -errno : static_cast<long>(n);
}

int over_nvmem(const request *req, const char *path)
{
    int fd = qx_sys_open(path, (req->write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
        return -errno;
    }
    const qx_file file{file_pread, file_pwrite, &fd};
    const int r = req->write ? qx_nvmem_update(&file, req->offset, req->buffer, req->length)
                             : qx_nvmem_read(&file, req->offset, req->buffer, req->length);
    qx_sys_close(fd);
    return r;
}

int over_i2cdev(const request *req)
{
    int fd = -1;
    qx_bus bus{};
    int r = qx_i2cdev_open(req->device, &fd, &bus);
    if (r) {
        return r;
    }
    r = req->write ? qx_eeprom_update(&bus, req->addr7, req->offset, req->buffer, req->length)
                   : qx_eeprom_read(&bus, req->addr7, req->offset, req->buffer, req->length);
    qx_i2cdev_close(fd);
    return r;
}

// After the first transfer that worked, and again only when the way changes
// (another device, a driver bound or unbound): which way it went.
void log_route(const request *req, qx_route route, const char *path)
{
    static char last[PATH_MAX + 64];
    char now[sizeof last];
    const int n = std::snprintf(now, sizeof now, "%d %s %s", static_cast<int>(route),
                                req->device, route == qx_route::nvmem ? path : "");
    if (n < 0 || std::strcmp(now, last) == 0) {
        return;
    }
    std::memcpy(last, now, sizeof last);
    if (route == qx_route::nvmem) {
        syslog(LOG_INFO, "quellix: EEPROM 0x%02x on %s through its kernel driver's %s",
               req->addr7, req->device, path);
    } else {
        syslog(LOG_INFO, "quellix: EEPROM 0x%02x on %s through i2c-dev%s", req->addr7,
               req->device,
               route == qx_route::i2cdev ? "" : " (its kernel driver has no nvmem file)");
    }
}

int32_t run(const request *req)
{
    char path[PATH_MAX];
    const qx_route route = qx_nvmem_find(req->device, req->addr7, path, sizeof path);
    const int r = route == qx_route::nvmem ? over_nvmem(req, path) : over_i2cdev(req);
    if (r == 0) {
        log_route(req, route, path);
        return 0;
    }
    syslog(LOG_ERR, "quellix: %s of %u bytes at %u on %s address 0x%02x failed: %s",
           req->write ? "write" : "read", req->length, req->offset,
           route == qx_route::nvmem ? path : req->device, req->addr7, std::strerror(-r));
    return r;
}

int32_t call(bool write, const char *device, int8_t address, uint64_t offset, uint8_t *buffer,
             uint32_t length)
{
    const int r = qx_check_args(device, buffer, offset, length);
    if (r || length == 0) {
        return r;
    }
    const request req{write, device, qx_address7(address), static_cast<uint32_t>(offset),
                      buffer, length};
    return run(&req);
}

} // namespace

extern "C" int32_t driver_i2c_get_data(const char *device, int8_t address, uint64_t offset,
                                       uint8_t *buffer, uint32_t length)
{
    return call(false, device, address, offset, buffer, length);
}

extern "C" int32_t driver_i2c_set_data(const char *device, int8_t address, uint64_t offset,
                                       uint8_t *buffer, uint32_t length)
{
    return call(true, device, address, offset, buffer, length);
}
