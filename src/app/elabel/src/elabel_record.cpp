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

constexpr size_t TAG_STEM = 7;  // "ELABPWR", then the format's digit
constexpr uint8_t FORMAT_TAG[8] = {'E', 'L', 'A', 'B', 'P', 'W', 'R', '3'};
constexpr char FORMAT_DIGIT = '3';
constexpr char SECOND_DIGIT = '2';  // both labels under one checksum
constexpr char FIRST_DIGIT = '1';   // the image alone
constexpr size_t LENGTH_AT = 8;
constexpr size_t OFFSET_AT = 12;
constexpr size_t FLAGS_AT = 16;
constexpr size_t IMAGE_AT = 20;
// The replaced state is a write-back cut short, which this one (a restore) finishes.
constexpr uint32_t FLAG_RESTORE = 1;
constexpr size_t IMAGE_CRC_AT = IMAGE_AT + ELABEL_DATA_LEN;
constexpr size_t REPLACED_AT = IMAGE_CRC_AT + 4;
constexpr size_t REPLACED_CRC_AT = REPLACED_AT + ELABEL_DATA_LEN;
constexpr size_t CRC_AT = REPLACED_CRC_AT + 4;
static_assert(CRC_AT + 4 == ELABEL_RECORD_LEN, "record layout");
// The second format: header, image, replaced label, one CRC-32.
constexpr size_t SECOND_LEN = IMAGE_AT + 2 * size_t{ELABEL_DATA_LEN} + 4;
// The first: tag, length, offset, image, CRC-32.
constexpr size_t FIRST_IMAGE_AT = 16;
constexpr size_t FIRST_LEN = FIRST_IMAGE_AT + ELABEL_DATA_LEN + 4;

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

bool check_at(const uint8_t *bytes, size_t len)
{
    return elabel_get_le32(bytes + len) == elabel_record_crc32(bytes, len);
}

void encode(uint8_t *record, const uint8_t *image, const uint8_t *replaced, bool restore)
{
    std::memcpy(record, FORMAT_TAG, sizeof(FORMAT_TAG));
    elabel_put_le32(record + LENGTH_AT, ELABEL_DATA_LEN);
    elabel_put_le32(record + OFFSET_AT, ELABEL_FLASH_OFFSET);
    elabel_put_le32(record + FLAGS_AT, restore ? FLAG_RESTORE : 0);
    std::memcpy(record + IMAGE_AT, image, ELABEL_DATA_LEN);
    elabel_put_le32(record + IMAGE_CRC_AT, elabel_record_crc32(record, IMAGE_CRC_AT));
    std::memcpy(record + REPLACED_AT, replaced, ELABEL_DATA_LEN);
    elabel_put_le32(record + REPLACED_CRC_AT,
                    elabel_record_crc32(record + REPLACED_AT, ELABEL_DATA_LEN));
    elabel_put_le32(record + CRC_AT, elabel_record_crc32(record, CRC_AT));
}

// The header of the second and third formats; nullptr when it is this label's.
const char *header_problem(const uint8_t *record, elabel_record *out)
{
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
    return nullptr;
}

elabel_record_state decode_third(const uint8_t *record, size_t size, elabel_record *out,
                                 const char **why)
{
    if (size < REPLACED_AT || !check_at(record, IMAGE_CRC_AT)) {
        *why = size < REPLACED_AT ? "cut short before the end of its image"
                                  : "checksum mismatch in the label it writes";
        return elabel_record_state::damaged;
    }
    if ((*why = header_problem(record, out)) != nullptr) {
        return elabel_record_state::damaged;
    }
    if (size != ELABEL_RECORD_LEN || !check_at(record + REPLACED_AT, ELABEL_DATA_LEN) ||
        !check_at(record, CRC_AT)) {
        *why = size != ELABEL_RECORD_LEN ? "wrong size; the label it writes checks"
                                         : "checksum mismatch in the label it replaces";
        return elabel_record_state::image_only;
    }
    std::memcpy(out->replaced, record + REPLACED_AT, ELABEL_DATA_LEN);
    out->has_replaced = true;
    return elabel_record_state::intact;
}

// Records of the second format, written before an upgrade, are still judged.
elabel_record_state decode_second(const uint8_t *record, size_t size, elabel_record *out,
                                  const char **why)
{
    if (size != SECOND_LEN || !check_at(record, SECOND_LEN - 4)) {
        *why = size != SECOND_LEN ? "wrong size" : "checksum mismatch";
        return elabel_record_state::damaged;
    }
    if ((*why = header_problem(record, out)) != nullptr) {
        return elabel_record_state::damaged;
    }
    std::memcpy(out->replaced, record + IMAGE_AT + ELABEL_DATA_LEN, ELABEL_DATA_LEN);
    out->has_replaced = true;
    return elabel_record_state::intact;
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
        ELABEL_ERR("pending-write record not stored (path too long)%s\n",
                   restore ? "" : "; writing back without it");
        errno = ENAMETOOLONG;
        return -1;
    }
    static uint8_t record[ELABEL_RECORD_LEN];
    encode(record, image, replaced, restore);
    const char *step = "mkdir";
    elabel_store_step failed = elabel_store_step::create;
    const elabel_store_target dest{paths.record, paths.temp, true, 0600, nullptr};
    if (make_dir(elabel_platform.record_dir) == 0) {
        if (elabel_store_file(dest, record, sizeof(record), &failed) == 0) {
            return 0;
        }
        step = elabel_store_step_name(failed);
    }
    const int err = errno;
    if (failed == elabel_store_step::fsync_dir) {
        ELABEL_ERR("pending-write record %s stored, directory not synced (%s); a power loss "
                   "may lose it\n",
                   paths.record, std::strerror(err));
        return 0;
    }
    ELABEL_ERR("pending-write record %s not %s (%s: %s)%s\n", paths.record,
               restore ? "updated for the restore" : "stored", step, std::strerror(err),
               restore ? "" : "; writing back without it");
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

int32_t elabel_record_copy_aside(uint32_t crc, bool damaged, char *aside)
{
    record_paths paths;
    if (!make_paths(&paths)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    // Named after the record's own checksum, so that records set aside keep
    // apart; linked, so that none replaces another, then the record removed.
    const char *infix = damaged ? ELABEL_DAMAGED_INFIX : ELABEL_ASIDE_INFIX;
    int linked = -1;
    for (unsigned n = 0; n < 100 && linked != 0; ++n) {
        const int len = n == 0 ? std::snprintf(aside, ELABEL_RECORD_PATH_MAX, "%s%s%08x",
                                               paths.record, infix, static_cast<unsigned>(crc))
                               : std::snprintf(aside, ELABEL_RECORD_PATH_MAX, "%s%s%08x-%02u",
                                               paths.record, infix, static_cast<unsigned>(crc), n);
        if (!fits(len, ELABEL_RECORD_PATH_MAX)) {
            errno = ENAMETOOLONG;
            return -1;
        }
        linked = elabel_platform.file.link(paths.record, aside);
        if (linked != 0 && errno != EEXIST) {
            return -1;
        }
    }
    if (linked != 0) {
        return -1;
    }
    const int synced = elabel_sync_parent(paths.record);
    if (synced != 0) {
        ELABEL_ERR("pending-write record linked as %s, directory not synced: %s\n", aside,
                   std::strerror(-synced));
    }
    return 0;
}

int32_t elabel_record_set_aside(uint32_t crc, bool damaged, char *aside)
{
    record_paths paths;
    if (!make_paths(&paths) || elabel_record_copy_aside(crc, damaged, aside) != 0) {
        return -1;
    }
    if (elabel_platform.file.unlink(paths.record) != 0) {
        const int err = errno;
        (void)elabel_platform.file.unlink(aside);  // the record stays where it was
        errno = err;
        return -1;
    }
    const int synced = elabel_sync_parent(paths.record);
    if (synced != 0) {
        ELABEL_ERR("pending-write record set aside as %s, directory not synced: %s\n", aside,
                   std::strerror(-synced));
    }
    return 0;
}

elabel_record_state elabel_record_look()
{
    record_paths paths;
    if (!make_paths(&paths)) {
        return elabel_record_state::none;
    }
    struct stat st {};
    if (elabel_platform.file.lstat(paths.record, &st) != 0) {
        return is_absent(errno) ? elabel_record_state::none : elabel_record_state::unreadable;
    }
    return S_ISDIR(st.st_mode) ? elabel_record_state::blocked : elabel_record_state::intact;
}

elabel_record_state elabel_record_read(elabel_record *out, const char **why)
{
    *why = nullptr;
    const elabel_record_state there = elabel_record_look();
    if (there == elabel_record_state::none || there == elabel_record_state::blocked) {
        *why = there == elabel_record_state::blocked ? "a directory" : nullptr;
        return there;
    }
    record_paths paths;
    make_paths(&paths);
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
        return elabel_record_state::unreadable;
    }
    return elabel_record_decode(record, static_cast<size_t>(got), out, why);
}

elabel_record_state elabel_record_decode(const uint8_t *bytes, size_t size, elabel_record *out,
                                         const char **why)
{
    out->crc = size >= 4 ? elabel_get_le32(bytes + size - 4) : 0;
    out->restore = false;
    out->has_replaced = false;
    *why = nullptr;
    if (elabel_record_tag(bytes, size) == nullptr) {
        *why = size < ELABEL_RECORD_TAG_LEN ? "wrong size" : "unknown format";
        return elabel_record_state::damaged;
    }
    switch (bytes[TAG_STEM]) {
    case FORMAT_DIGIT:
        return decode_third(bytes, size, out, why);
    case SECOND_DIGIT:
        return decode_second(bytes, size, out, why);
    case FIRST_DIGIT:
        if (size == FIRST_LEN && check_at(bytes, FIRST_LEN - 4)) {
            std::memcpy(out->image, bytes + FIRST_IMAGE_AT, ELABEL_DATA_LEN);
            *why = "written by an earlier version, without the label it replaces";
            return elabel_record_state::earlier;
        }
        *why = "an earlier format, damaged";
        return elabel_record_state::damaged;
    default:
        break;
    }
    if (bytes[TAG_STEM] > FORMAT_DIGIT && bytes[TAG_STEM] <= '9') {
        *why = "written by a later version, in a format this one cannot judge";
        return elabel_record_state::later;
    }
    *why = "unknown format";
    return elabel_record_state::damaged;
}

const char *elabel_record_tag(const uint8_t *bytes, size_t size)
{
    if (size < ELABEL_RECORD_TAG_LEN || std::memcmp(bytes, FORMAT_TAG, TAG_STEM) != 0 ||
        bytes[TAG_STEM] < '1' || bytes[TAG_STEM] > '9') {
        return nullptr;
    }
    return reinterpret_cast<const char *>(bytes);
}

bool elabel_record_damaged_aside(char *path)
{
    const char *dir = elabel_platform.record_dir;
    DIR *listing = dir != nullptr ? elabel_platform.file.opendir(dir) : nullptr;
    if (listing == nullptr) {
        return false;
    }
    constexpr char PREFIX[] = ELABEL_RECORD_NAME ELABEL_DAMAGED_INFIX;
    bool found = false;
    while (const dirent *entry = elabel_platform.file.readdir(listing)) {
        if (std::strncmp(entry->d_name, PREFIX, sizeof(PREFIX) - 1) == 0) {
            found = fits(std::snprintf(path, ELABEL_RECORD_PATH_MAX, "%s/%s", dir, entry->d_name),
                         ELABEL_RECORD_PATH_MAX);
            break;
        }
    }
    (void)elabel_platform.file.closedir(listing);
    return found;
}

void elabel_record_clear_torn()
{
    const char *dir = elabel_platform.record_dir;
    DIR *listing = dir != nullptr ? elabel_platform.file.opendir(dir) : nullptr;
    if (listing == nullptr) {
        return;
    }
    constexpr size_t STEM = sizeof(ELABEL_RECORD_NAME) - 1;
    constexpr char PREFIX[] = ELABEL_RECORD_NAME ELABEL_DAMAGED_INFIX;
    char from[ELABEL_RECORD_PATH_MAX];
    char to[ELABEL_RECORD_PATH_MAX];
    bool renamed = false;
    while (const dirent *entry = elabel_platform.file.readdir(listing)) {
        if (std::strncmp(entry->d_name, PREFIX, sizeof(PREFIX) - 1) != 0 ||
            !fits(std::snprintf(from, sizeof(from), "%s/%s", dir, entry->d_name), sizeof(from)) ||
            !fits(std::snprintf(to, sizeof(to), "%s/%.*s%s%s", dir, static_cast<int>(STEM),
                                entry->d_name, ELABEL_ASIDE_INFIX,
                                entry->d_name + sizeof(PREFIX) - 1),
                  sizeof(to))) {
            continue;
        }
        if (elabel_platform.file.link(from, to) == 0 && elabel_platform.file.unlink(from) == 0) {
            renamed = true;
        }
    }
    (void)elabel_platform.file.closedir(listing);
    if (renamed) {
        (void)elabel_sync_parent(to);
    }
}
