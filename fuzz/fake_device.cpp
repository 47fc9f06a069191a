#include "fake_device.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "elabel.h"
#include "elabel_image.h"
#include "elabel_platform.h"

namespace fuzz {

device g_device;

namespace {

constexpr int FAKE_LOCK_FD = 1000;

bool in_eeprom(uint64_t offset, uint32_t length)
{
    return offset <= EEPROM_SIZE && length <= EEPROM_SIZE - offset;
}

bool fails(uint32_t mask, uint32_t call)
{
    return call <= 32 && (mask >> (call - 1) & 1u) != 0;
}

int32_t fake_read(const char *, int8_t, uint64_t offset, uint8_t *buffer, uint32_t length)
{
    ++g_device.reads;
    if (buffer == nullptr || !in_eeprom(offset, length)) {
        return -EINVAL;
    }
    if (fails(g_device.fail_reads, g_device.reads)) {
        return -EIO;
    }
    std::memcpy(buffer, g_device.eeprom + offset, length);
    return 0;
}

int32_t fake_write(const char *, int8_t, uint64_t offset, uint8_t *buffer, uint32_t length)
{
    ++g_device.writes;
    if (buffer == nullptr || !in_eeprom(offset, length)) {
        return -EINVAL;
    }
    if (fails(g_device.fail_writes, g_device.writes)) {
        return -EIO;
    }
    std::memcpy(g_device.eeprom + offset, buffer, length);
    return 0;
}

int fake_open(const char *, int, mode_t)
{
    return FAKE_LOCK_FD;
}

int fake_lock(int fd, int, struct flock *)
{
    return fd == FAKE_LOCK_FD ? 0 : -1;
}

int fake_close(int fd)
{
    return fd == FAKE_LOCK_FD ? 0 : -1;
}

int fake_sleep(useconds_t)
{
    return 0;
}

void fake_log(int, const char *)
{
}

} // namespace

void install_fake()
{
    std::memset(g_device.eeprom, 0xFF, sizeof(g_device.eeprom));
    g_device.fail_reads = 0;
    g_device.fail_writes = 0;
    g_device.reads = 0;
    g_device.writes = 0;
    elabel_platform_reset();
    elabel_platform.bus.read = fake_read;
    elabel_platform.bus.write = fake_write;
    elabel_platform.file.open = fake_open;
    elabel_platform.file.fcntl_lock = fake_lock;
    elabel_platform.file.close = fake_close;
    elabel_platform.sleep_us = fake_sleep;
    elabel_platform.log_line = fake_log;
    elabel_platform.record_dir = nullptr;  // no pending-write record on the host
    elabel_platform.publish_dir = nullptr;  // nor a published label
}

void put_label(const uint8_t *bytes, size_t size)
{
    std::memcpy(g_device.eeprom + ELABEL_FLASH_OFFSET, bytes,
                size < ELABEL_DATA_LEN ? size : ELABEL_DATA_LEN);
}

const uint8_t *label()
{
    return g_device.eeprom + ELABEL_FLASH_OFFSET;
}

bool image_is_valid(const uint8_t *image)
{
    if (elabel_get_le32(image) != ELABEL_MAGIC) {
        return false;
    }
    for (const elabel_item_desc &item : elabel_item_table) {
        const uint16_t len = elabel_item_len(image, item);
        if (len > item.max_len ||
            elabel_item_crc(image, item) != elabel_crc16(elabel_item_field(image, item), len)) {
            return false;
        }
    }
    return true;
}

void fail(const char *what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

} // namespace fuzz

// Shared by every target: the listing and status lines go to standard output;
// keep the fuzzer's own output readable.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        return 1;
    }
    return 0;
}
