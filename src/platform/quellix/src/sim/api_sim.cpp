// The simulated build: the three library calls on a 24C64 model whose contents
// live in an image file. Each call locks the file, loads it, runs the same
// EEPROM protocol as the board build through the simulated adapter (or the
// board's nvmem path over a simulated kernel driver), and writes
// the file back when the chip's contents changed. It logs nothing: the program
// under test owns the system log.
#include "quellix.h"

#include "../api_args.h"
#include "../eeprom.h"
#include "../nvmem.h"
#include "chip24.h"
#include "sim_at24.h"
#include "sim_bus.h"
#include "sim_env.h"
#include "sim_image.h"
#include "sim_report.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

uint32_t g_read_calls;
uint32_t g_write_calls;
uint32_t g_page_writes;

struct request {
    bool write;
    uint8_t addr7;
    uint32_t offset;
    uint8_t *buffer;
    uint32_t length;
};

struct cut_point {
    const sim_env *env;
    const chip24 *chip;
    int fd;
};

// What the page-write hook of the running call needs.
cut_point g_cut;

// Counts this process's page writes; at the chosen one, what the chip holds is
// made durable and the process is signalled, as a power cut or a kill would
// find it.
void after_page_write(void *ctx)
{
    const auto *cut = static_cast<const cut_point *>(ctx);
    if (++g_page_writes == cut->env->signal_after_pages) {
        (void)sim_image_store(cut->fd, cut->chip->mem);
        (void)kill(getpid(), cut->env->signal);
    }
}

int transfer(const sim_env *env, const request *req, const qx_bus *ops)
{
    // The driver owns the chip's address alone; any other goes over i2c-dev.
    if (env->driver && req->addr7 == CHIP24_ADDRESS) {
        sim_at24 driver{ops, env->driver_page, env->short_io};
        const qx_file file = sim_at24_file(&driver);
        return req->write ? qx_nvmem_update(&file, req->offset, req->buffer, req->length)
                          : qx_nvmem_read(&file, req->offset, req->buffer, req->length);
    }
    return req->write ? qx_eeprom_update(ops, req->addr7, req->offset, req->buffer, req->length)
                      : qx_eeprom_read(ops, req->addr7, req->offset, req->buffer, req->length);
}

int run_on_image(const sim_env *env, const request *req, chip24 *chip, sim_bus *bus)
{
    int fd = -1;
    bool created = false;
    chip24_init(chip, env->write_cycle_ns);
    chip->stuck = env->stuck_byte;
    chip->protect = env->write_protect;
    chip->page = env->chip_page;
    if (env->torn_bytes < CHIP24_PAGE && env->signal_after_pages > g_page_writes) {
        chip->torn_cycle = env->signal_after_pages - g_page_writes;
        chip->torn_from = env->torn_bytes;
    }
    sim_bus_init(bus, chip, &env->adapter, env->bus_hz);
    int r = sim_image_open(env->image, &fd, chip->mem, &created);
    if (r) {
        return r;
    }
    g_cut = cut_point{env, chip, fd};
    bus->on_write_cycle = after_page_write;
    bus->hook_ctx = &g_cut;
    const qx_bus ops = sim_bus_ops(bus);
    r = transfer(env, req, &ops);
    if (created || chip->page_writes != 0) {
        const int stored = sim_image_store(fd, chip->mem);
        r = r ? r : stored;
    }
    sim_image_close(fd);
    bus->on_write_cycle = nullptr;
    return r;
}

bool file_exists(const char *path)
{
    return access(path, F_OK) == 0;
}

// Tells a test that the call is done and waits (real time) until it says go on.
void stall(const char *path)
{
    char marker[4096];
    const int n = snprintf(marker, sizeof marker, "%s.stalled", path);
    if (n < 0 || static_cast<size_t>(n) >= sizeof marker) {
        return;
    }
    const int fd = open(marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        close(fd);
    }
    const timespec tick{0, 1000000};
    for (int waited = 0; waited < 60000 && !file_exists(path); ++waited) {
        nanosleep(&tick, nullptr);
    }
}

int32_t call_chip(bool write, const char *device, int8_t address, uint64_t offset,
                 uint8_t *buffer, uint32_t length)
{
    const uint32_t number = write ? ++g_write_calls : ++g_read_calls;
    sim_env env{};
    int r = sim_env_load(&env);
    if (r) {
        return r;
    }
    static chip24 chip;
    static sim_bus bus;
    const sim_bus *ran = nullptr;
    const bool fails_after_write = !write && env.fail_read_after_write && g_page_writes != 0;
    if (fails_after_write || sim_env_lists(write ? env.fail_write : env.fail_read, number)) {
        r = -EIO;
    } else {
        r = qx_check_args(device, buffer, offset, length);
        if (r == 0 && length != 0) {
            const request req{write, qx_address7(address), static_cast<uint32_t>(offset), buffer,
                              length};
            r = run_on_image(&env, &req, &chip, &bus);
            ran = &bus;
        }
    }
    if (env.stats != nullptr) {
        const sim_call_info call{write ? "write" : "read", number, offset, length, r};
        sim_report_append(env.stats, &call, ran, env.bus_hz, env.write_cycle_ns);
    }
    if (!write && number == env.stall_after_read) {
        stall(env.stall_file);
    }
    return r;
}

} // namespace

extern "C" int32_t driver_i2c_get_data(const char *device, int8_t address, uint64_t offset,
                                       uint8_t *buffer, uint32_t length)
{
    return call_chip(false, device, address, offset, buffer, length);
}

extern "C" int32_t driver_i2c_set_data(const char *device, int8_t address, uint64_t offset,
                                       uint8_t *buffer, uint32_t length)
{
    return call_chip(true, device, address, offset, buffer, length);
}
