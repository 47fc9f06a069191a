#include "elabel_record.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "elabel_file.h"
#include "elabel_log.h"
#include "elabel_platform.h"

namespace {

constexpr uint8_t FORMAT_TAG[8] = {'E', 'L', 'A', 'B', 'P', 'W', 'R', '2'};
// The first format held the image alone.
constexpr uint8_t EARLIER_TAG[8] = {'E', 'L', 'A', 'B', 'P', 'W', 'R', '1'};
constexpr size_t LENGTH_AT = 8;
constexpr size_t OFFSET_AT = 12;
constexpr size_t FLAGS_AT = 16;
constexpr size_t IMAGE_AT = 20;
// The replaced state is a write-back cut short, which this one (a restore) finishes.
constexpr uint32_t FLAG_RESTORE = 1;
constexpr size_t REPLACED_AT = IMAGE_AT + ELABEL_DATA_LEN;
constexpr size_t CRC_AT = REPLACED_AT + ELABEL_DATA_LEN;
static_assert(CRC_AT + 4 == ELABEL_RECORD_LEN, "record layout");

// The record, or its directory, is not there.
bool is_absent(int err)
{
    return err == ENOENT || err == ENOTDIR;
}

struct record_paths {
    char record[ELABEL_RECORD_PATH_MAX];
    char temp[ELABEL_RECORD_PATH_MAX];
};

bool fits(int n, size_t size)
{
    return n > 0 && static_cast<size_t>(n) < size;
}

// False when records are off (no directory) or the path does not fit.
bool make_paths(record_paths *paths)
{
    const char *dir = elabel_platform.record_dir;
    if (dir == nullptr) {
        return false;
    }
    return fits(std::snprintf(paths->record, sizeof(paths->record), "%s/%s", dir,
                              ELABEL_RECORD_NAME),
                sizeof(paths->record)) &&
           fits(std::snprintf(paths->temp, sizeof(paths->temp), "%s/%s.tmp", dir,
                              ELABEL_RECORD_NAME),
                sizeof(paths->temp));
}

void encode(uint8_t *record, const uint8_t *image, const uint8_t *replaced, bool restore)
{
    std::memcpy(record, FORMAT_TAG, sizeof(FORMAT_TAG));
    elabel_put_le32(record + LENGTH_AT, ELABEL_DATA_LEN);
    elabel_put_le32(record + OFFSET_AT, ELABEL_FLASH_OFFSET);
    elabel_put_le32(record + FLAGS_AT, restore ? FLAG_RESTORE : 0);
    std::memcpy(record + IMAGE_AT, image, ELABEL_DATA_LEN);
    std::memcpy(record + REPLACED_AT, replaced, ELABEL_DATA_LEN);
    elabel_put_le32(record + CRC_AT, elabel_record_crc32(record, CRC_AT));
}

// An earlier record is recognised by its tag and size alone: it is never
// replayed, only set aside. Its image follows the tag, length and offset.
constexpr size_t EARLIER_IMAGE_AT = 16;
bool is_earlier(const uint8_t *record, size_t size)
{
    constexpr size_t EARLIER_LEN = 8 + 4 + 4 + ELABEL_DATA_LEN + 4;
    return size == EARLIER_LEN && std::memcmp(record, EARLIER_TAG, sizeof(EARLIER_TAG)) == 0 &&
           elabel_get_le32(record + size - 4) == elabel_record_crc32(record, size - 4);
}

// nullptr for an intact record, else what is wrong with it.
const char *decode(const uint8_t *record, size_t size, elabel_record *out)
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
    const uint32_t flags = elabel_get_le32(record + FLAGS_AT);
    if ((flags & ~FLAG_RESTORE) != 0) {
        return "unknown flags";
    }
    out->restore = flags == FLAG_RESTORE;
    std::memcpy(out->image, record + IMAGE_AT, ELABEL_DATA_LEN);
    std::memcpy(out->replaced, record + REPLACED_AT, ELABEL_DATA_LEN);
    return nullptr;
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
    if (elabel_platform.file.mkdir(dir, 0700) != 0) {
        return errno == EEXIST ? 0 : -1;
    }
    return ok_or_errno(elabel_sync_parent(dir)) ? 0 : -1;
}

// The steps of storing, and their names for the messages.
enum class store_step { mkdir, create, write, fsync, close, rename, sync_dir };
constexpr const char *STEP_NAMES[] = {"mkdir", "create", "write",          "fsync",
                                      "close", "rename", "fsync directory"};
static_assert(sizeof(STEP_NAMES) / sizeof(STEP_NAMES[0]) ==
                  static_cast<size_t>(store_step::sync_dir) + 1,
              "a name for every step");

// Stores the record; on failure `*step` is the step that failed.
int write_record(const record_paths &paths, const uint8_t *record, store_step *step)
{
    *step = store_step::mkdir;
    if (make_dir(elabel_platform.record_dir) != 0) {
        return -1;
    }
    *step = store_step::create;
    (void)elabel_platform.file.unlink(paths.temp);
    const int fd = elabel_platform.file.open(
        paths.temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return -1;
    }
    bool ok = true;
    if (!ok_or_errno(elabel_write_all(fd, record, ELABEL_RECORD_LEN))) {
        *step = store_step::write;
        ok = false;
    } else if (elabel_platform.file.fsync(fd) != 0) {
        *step = store_step::fsync;
        ok = false;
    }
    const int saved = errno;
    if (elabel_platform.file.close(fd) != 0 && ok) {
        *step = store_step::close;
        return -1;
    }
    errno = saved;
    if (!ok) {
        return -1;
    }
    *step = store_step::rename;
    if (elabel_platform.file.rename(paths.temp, paths.record) != 0) {
        return -1;
    }
    *step = store_step::sync_dir;
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

int32_t elabel_record_store(const uint8_t *image, const uint8_t *replaced, bool restore)
{
    if (elabel_platform.record_dir == nullptr) {
        return 0;
    }
    record_paths paths;
    if (!make_paths(&paths)) {
        ELABEL_ERR("pending-write record not stored (path too long); writing back without it\n");
        return -1;
    }
    static uint8_t record[ELABEL_RECORD_LEN];
    encode(record, image, replaced, restore);
    store_step step = store_step::mkdir;
    if (write_record(paths, record, &step) == 0) {
        return 0;
    }
    const int err = errno;
    if (step == store_step::sync_dir) {
        ELABEL_ERR("pending-write record %s stored, directory not synced (%s); a power loss "
                   "may lose it\n",
                   paths.record, std::strerror(err));
        return 0;
    }
    (void)elabel_platform.file.unlink(paths.temp);
    if (restore) {
        ELABEL_ERR("pending-write record %s not updated for the restore (%s: %s)\n",
                   paths.record, STEP_NAMES[static_cast<size_t>(step)], std::strerror(err));
        errno = err;
        return -1;
    }
    (void)elabel_platform.file.unlink(paths.record);
    ELABEL_ERR("pending-write record %s not stored (%s: %s); writing back without it\n",
               paths.record, STEP_NAMES[static_cast<size_t>(step)], std::strerror(err));
    errno = err;
    return -1;
}

int32_t elabel_record_remove()
{
    record_paths paths;
    if (!make_paths(&paths)) {
        return 0;
    }
    if (elabel_platform.file.unlink(paths.record) != 0) {
        return is_absent(errno) ? 0 : -1;
    }
    const int synced = elabel_sync_parent(paths.record);
    if (synced != 0) {
        ELABEL_ERR("pending-write record %s removed, directory not synced: %s\n", paths.record,
                   std::strerror(-synced));
    }
    return 0;
}

int32_t elabel_record_set_aside(const elabel_record *record, char *aside)
{
    record_paths paths;
    if (!make_paths(&paths)) {
        return -1;
    }
    // Named after the record's own checksum, so that records set aside keep apart.
    if (!fits(std::snprintf(aside, ELABEL_RECORD_PATH_MAX, "%s.set-aside-%08x", paths.record,
                            static_cast<unsigned>(record->crc)),
              ELABEL_RECORD_PATH_MAX) ||
        elabel_platform.file.rename(paths.record, aside) != 0) {
        return -1;
    }
    const int synced = elabel_sync_parent(paths.record);
    if (synced != 0) {
        ELABEL_ERR("pending-write record set aside as %s, directory not synced: %s\n", aside,
                   std::strerror(-synced));
    }
    return 0;
}

elabel_record_state elabel_record_read(elabel_record *out, const char **why)
{
    record_paths paths;
    if (!make_paths(&paths)) {
        return elabel_record_state::none;
    }
    // Never blocks on a FIFO; what is not a regular file is no record: a link
    // fails with ELOOP, a socket or a device without a driver with ENXIO.
    const int fd = elabel_platform.file.open(
        paths.record, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0);
    if (fd < 0) {
        if (is_absent(errno)) {
            return elabel_record_state::none;
        }
        *why = std::strerror(errno);
        return errno == ELOOP || errno == ENXIO ? elabel_record_state::damaged
                                                : elabel_record_state::unreadable;
    }
    // One byte more than a record, so that a longer file shows.
    static uint8_t record[ELABEL_RECORD_LEN + 1];
    const ssize_t got = elabel_read_all(fd, record, sizeof(record));
    const int err = errno;
    elabel_platform.file.close(fd);
    if (got < 0) {
        *why = std::strerror(err);
        return err == EISDIR ? elabel_record_state::damaged : elabel_record_state::unreadable;
    }
    return elabel_record_decode(record, static_cast<size_t>(got), out, why);
}

elabel_record_state elabel_record_decode(const uint8_t *bytes, size_t size, elabel_record *out,
                                         const char **why)
{
    out->crc = size >= 4 ? elabel_get_le32(bytes + size - 4) : 0;
    if (is_earlier(bytes, size)) {
        std::memcpy(out->image, bytes + EARLIER_IMAGE_AT, ELABEL_DATA_LEN);
        *why = "written by an earlier version, without the label it replaces";
        return elabel_record_state::earlier;
    }
    *why = decode(bytes, size, out);
    return *why == nullptr ? elabel_record_state::intact : elabel_record_state::damaged;
}

const char *elabel_record_tag(const uint8_t *bytes, size_t size)
{
    constexpr const uint8_t *TAGS[] = {FORMAT_TAG, EARLIER_TAG};
    for (const uint8_t *tag : TAGS) {
        if (size >= ELABEL_RECORD_TAG_LEN && std::memcmp(bytes, tag, ELABEL_RECORD_TAG_LEN) == 0) {
            return reinterpret_cast<const char *>(tag);
        }
    }
    return nullptr;
}
