#include "elabel_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "elabel_file.h"
#include "elabel_log.h"
#include "elabel_platform.h"

namespace {

constexpr uint8_t FORMAT_TAG[8] = {'E', 'L', 'A', 'B', 'P', 'W', 'R', '1'};
constexpr size_t LENGTH_AT = 8;
constexpr size_t OFFSET_AT = 12;
constexpr size_t IMAGE_AT = 16;
constexpr size_t CRC_AT = IMAGE_AT + ELABEL_DATA_LEN;
static_assert(CRC_AT + 4 == ELABEL_RECORD_LEN, "record layout");

constexpr size_t PATH_MAX_LEN = 512;

// The record, or its directory, is not there.
bool is_absent(int err)
{
    return err == ENOENT || err == ENOTDIR;
}

// Errors that say nothing about the record itself: a later load may read it.
bool is_passing(int err)
{
    return err == EMFILE || err == ENFILE || err == ENOMEM || err == EIO || err == EINTR ||
           err == EAGAIN;
}

struct record_paths {
    char record[PATH_MAX_LEN];
    char temp[PATH_MAX_LEN];
};

// False when records are off (no directory) or the path does not fit.
bool make_paths(record_paths *paths)
{
    const char *dir = elabel_platform.record_dir;
    if (dir == nullptr) {
        return false;
    }
    const int a = std::snprintf(paths->record, sizeof(paths->record), "%s/%s", dir,
                                ELABEL_RECORD_NAME);
    const int b = std::snprintf(paths->temp, sizeof(paths->temp), "%s/%s.tmp", dir,
                                ELABEL_RECORD_NAME);
    return a > 0 && static_cast<size_t>(a) < sizeof(paths->record) && b > 0 &&
           static_cast<size_t>(b) < sizeof(paths->temp);
}

void encode(uint8_t *record, const uint8_t *image)
{
    std::memcpy(record, FORMAT_TAG, sizeof(FORMAT_TAG));
    elabel_put_le32(record + LENGTH_AT, ELABEL_DATA_LEN);
    elabel_put_le32(record + OFFSET_AT, ELABEL_FLASH_OFFSET);
    std::memcpy(record + IMAGE_AT, image, ELABEL_DATA_LEN);
    elabel_put_le32(record + CRC_AT, elabel_record_crc32(record, CRC_AT));
}

// nullptr for an intact record, else what is wrong with it.
const char *decode(const uint8_t *record, size_t size, uint8_t *image)
{
    if (size != ELABEL_RECORD_LEN) {
        return "wrong size";
    }
    if (std::memcmp(record, FORMAT_TAG, sizeof(FORMAT_TAG)) != 0) {
        return "unknown format";
    }
    if (elabel_get_le32(record + CRC_AT) != elabel_record_crc32(record, CRC_AT)) {
        return "checksum mismatch";
    }
    if (elabel_get_le32(record + LENGTH_AT) != ELABEL_DATA_LEN ||
        elabel_get_le32(record + OFFSET_AT) != ELABEL_FLASH_OFFSET) {
        return "not this label's length and offset";
    }
    std::memcpy(image, record + IMAGE_AT, ELABEL_DATA_LEN);
    return nullptr;
}

// Reads up to `max` bytes; the count read, or -1.
ssize_t read_all(int fd, uint8_t *data, size_t max)
{
    size_t got = 0;
    while (got < max) {
        const ssize_t n = read(fd, data + got, max - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

// Sets errno from a -errno result; true when there was none.
bool ok_or_errno(int ret)
{
    if (ret != 0) {
        errno = -ret;
    }
    return ret == 0;
}

// Makes the record directory, durably: a new directory's entry is synced in
// its parent too.
int make_dir(const char *dir)
{
    if (mkdir(dir, 0700) != 0) {
        return errno == EEXIST ? 0 : -1;
    }
    return ok_or_errno(elabel_sync_parent(dir)) ? 0 : -1;
}

// The steps of storing; on failure `*step` names the one that failed.
int write_record(const record_paths &paths, const uint8_t *record, const char **step)
{
    const char *dir = elabel_platform.record_dir;
    *step = "mkdir";
    if (make_dir(dir) != 0) {
        return -1;
    }
    *step = "create";
    (void)unlink(paths.temp);
    const int fd = open(paths.temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return -1;
    }
    bool ok = true;
    if (!ok_or_errno(elabel_write_all(fd, record, ELABEL_RECORD_LEN))) {
        *step = "write";
        ok = false;
    } else if (fsync(fd) != 0) {
        *step = "fsync";
        ok = false;
    }
    const int saved = errno;
    if (close(fd) != 0 && ok) {
        *step = "close";
        return -1;
    }
    errno = saved;
    if (!ok) {
        return -1;
    }
    *step = "rename";
    if (rename(paths.temp, paths.record) != 0) {
        return -1;
    }
    *step = "fsync directory";
    return ok_or_errno(elabel_sync_parent(paths.record)) ? 0 : -1;
}

} // namespace

uint32_t elabel_record_crc32(const uint8_t *data, size_t len)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < len; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
    }
    return ~crc;
}

const char *elabel_record_path()
{
    static record_paths paths;
    return make_paths(&paths) ? paths.record : "(none)";
}

int32_t elabel_record_store(const uint8_t *image)
{
    if (elabel_platform.record_dir == nullptr) {
        return 0;
    }
    record_paths paths;
    if (!make_paths(&paths)) {
        ELABEL_ERR("pending-write record not stored (path too long); writing back without it\n");
        return -1;
    }
    uint8_t record[ELABEL_RECORD_LEN];
    encode(record, image);
    const char *step = "";
    if (write_record(paths, record, &step) == 0) {
        return 0;
    }
    const int err = errno;
    if (std::strcmp(step, "fsync directory") == 0) {
        ELABEL_ERR("pending-write record %s stored, directory not synced (%s); a power loss "
                   "may lose it\n",
                   paths.record, std::strerror(err));
        return -1;
    }
    (void)unlink(paths.temp);
    // An older record left behind must not be taken for this write-back's.
    (void)unlink(paths.record);
    ELABEL_ERR("pending-write record %s not stored (%s: %s); writing back without it\n",
               paths.record, step, std::strerror(err));
    return -1;
}

int32_t elabel_record_remove()
{
    record_paths paths;
    if (!make_paths(&paths)) {
        return 0;
    }
    if (unlink(paths.record) != 0) {
        if (is_absent(errno)) {
            return 0;
        }
        ELABEL_ERR("pending-write record %s not removed: %s\n", paths.record,
                   std::strerror(errno));
        return -1;
    }
    const int synced = elabel_sync_parent(paths.record);
    if (synced != 0) {
        ELABEL_ERR("pending-write record %s removed, directory not synced: %s\n", paths.record,
                   std::strerror(-synced));
        return -1;
    }
    return 0;
}

elabel_record_state elabel_record_read(uint8_t *image, const char **why)
{
    record_paths paths;
    if (!make_paths(&paths)) {
        return elabel_record_state::none;
    }
    const int fd = open(paths.record, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (is_absent(errno)) {
            return elabel_record_state::none;
        }
        *why = std::strerror(errno);
        return is_passing(errno) ? elabel_record_state::unreadable : elabel_record_state::damaged;
    }
    // One byte more than a record, so that a longer file shows.
    uint8_t record[ELABEL_RECORD_LEN + 1];
    const ssize_t got = read_all(fd, record, sizeof(record));
    const int err = errno;
    close(fd);
    if (got < 0) {
        *why = std::strerror(err);
        return is_passing(err) ? elabel_record_state::unreadable : elabel_record_state::damaged;
    }
    *why = decode(record, static_cast<size_t>(got), image);
    return *why == nullptr ? elabel_record_state::intact : elabel_record_state::damaged;
}
