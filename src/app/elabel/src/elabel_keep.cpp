#include "elabel_keep.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "elabel_file.h"
#include "elabel_image.h"
#include "elabel_log.h"
#include "elabel_platform.h"

namespace {

constexpr int NAME_TRIES = 100;
constexpr size_t NAME_MAX_LEN = 64;
constexpr size_t LISTED_MAX = 256;
constexpr size_t PREFIX_LEN = sizeof(ELABEL_KEPT_PREFIX) - 1;
constexpr int SEQ_DIGITS = 6;

bool erased(const uint8_t *label, const elabel_item_desc &item)
{
    const uint8_t *block = label + item.offset;
    return std::all_of(block, block + ELABEL_ITEM_HEAD_LEN + item.max_len,
                       [](uint8_t b) { return b == 0xFF; });
}

bool holds_default(const uint8_t *image, const elabel_item_desc &item)
{
    const size_t len = std::strlen(item.default_value);
    return elabel_item_valid(image, item) && elabel_item_len(image, item) == len &&
           std::memcmp(elabel_item_field(image, item), item.default_value, len) == 0;
}

bool is_kept(const char *name)
{
    const size_t len = std::strlen(name);
    return std::strncmp(name, ELABEL_KEPT_PREFIX, PREFIX_LEN) == 0 && len > PREFIX_LEN + 4 &&
           len < NAME_MAX_LEN && std::strcmp(name + len - 4, ".bin") == 0;
}

// A kept label's sequence number: the digits after the prefix in
// "kept-label-000012-20261208T101500Z.bin"; 0 for a name without one (the
// time alone, as kept labels were first named).
unsigned long sequence_of(const char *name)
{
    const char *digits = name + PREFIX_LEN;
    for (int i = 0; i < SEQ_DIGITS; ++i) {
        if (digits[i] < '0' || digits[i] > '9') {
            return 0;
        }
    }
    return digits[SEQ_DIGITS] == '-' ? std::strtoul(digits, nullptr, 10) : 0;
}

// Older first: by sequence, then by name (names of the first kind sort by time).
bool older(const char *a, const char *b)
{
    const unsigned long sa = sequence_of(a);
    const unsigned long sb = sequence_of(b);
    return sa != sb ? sa < sb : std::strcmp(a, b) < 0;
}

struct listing {
    char names[LISTED_MAX][NAME_MAX_LEN];
    size_t count;
};

// The kept labels in the directory; false when it cannot be listed.
bool list_kept(const char *dir, listing *out)
{
    DIR *d = elabel_platform.file.opendir(dir);
    if (d == nullptr) {
        return false;
    }
    out->count = 0;
    while (const dirent *entry = elabel_platform.file.readdir(d)) {
        if (out->count < LISTED_MAX && is_kept(entry->d_name)) {
            // is_kept bounds the length; the precision lets the compiler see it.
            std::snprintf(out->names[out->count], NAME_MAX_LEN, "%.*s",
                          static_cast<int>(NAME_MAX_LEN - 1), entry->d_name);
            ++out->count;
        }
    }
    (void)elabel_platform.file.closedir(d);
    return true;
}

bool join(const char *dir, const char *name, char *path, size_t size)
{
    const int n = std::snprintf(path, size, "%s/%s", dir, name);
    return n > 0 && static_cast<size_t>(n) < size;
}

// Whether the file holds exactly `label`.
bool holds(const char *path, const uint8_t *label)
{
    const int fd = elabel_platform.file.open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    static uint8_t bytes[ELABEL_DATA_LEN + 1];
    const ssize_t got = elabel_read_all(fd, bytes, sizeof(bytes));
    elabel_platform.file.close(fd);
    return got == ELABEL_DATA_LEN && std::memcmp(bytes, label, ELABEL_DATA_LEN) == 0;
}

// A kept label already holding these bytes: its path in `path`.
bool find_same(const char *dir, const listing &kept, const uint8_t *label, char *path, size_t size)
{
    for (size_t i = 0; i < kept.count; ++i) {
        if (join(dir, kept.names[i], path, size) && holds(path, label)) {
            return true;
        }
    }
    return false;
}

unsigned long next_sequence(const listing &kept)
{
    unsigned long highest = 0;
    for (size_t i = 0; i < kept.count; ++i) {
        highest = std::max(highest, sequence_of(kept.names[i]));
    }
    return highest + 1;
}

// "kept-label-000012-20261208T101500Z.bin": the sequence orders them, the
// time is for people.
bool kept_name(unsigned long sequence, char *name, size_t size)
{
    const time_t now = elabel_platform.time(nullptr);
    struct tm utc {};
    char stamp[32] = "unknown-time";
    if (gmtime_r(&now, &utc) != nullptr) {
        (void)std::strftime(stamp, sizeof(stamp), "%Y%m%dT%H%M%SZ", &utc);
    }
    const int n = std::snprintf(name, size, "%s%0*lu-%s.bin", ELABEL_KEPT_PREFIX, SEQ_DIGITS,
                                sequence % 1000000, stamp);
    return n > 0 && static_cast<size_t>(n) < size;
}

int make_dir(const char *dir)
{
    if (elabel_platform.file.mkdir(dir, 0700) != 0) {
        return errno == EEXIST ? 0 : -1;
    }
    const int synced = elabel_sync_parent(dir);
    errno = -synced;
    return synced == 0 ? 0 : -1;
}

// Stores a new kept label; 0, or -1 with errno and the failed step.
int store_new(const char *dir, const listing &kept, const uint8_t *label, char *path, size_t size,
              elabel_store_step *failed)
{
    char temp[ELABEL_KEPT_PATH_MAX];
    std::snprintf(temp, sizeof(temp), "%s/.%stmp", dir, ELABEL_KEPT_PREFIX);
    char name[NAME_MAX_LEN];
    unsigned long sequence = next_sequence(kept);
    for (int attempt = 0; attempt < NAME_TRIES; ++attempt, ++sequence) {
        if (!kept_name(sequence, name, sizeof(name)) || !join(dir, name, path, size)) {
            errno = ENAMETOOLONG;
            return -1;
        }
        const elabel_store_target dest{path, temp, false, 0600, nullptr};
        if (elabel_store_file(dest, label, ELABEL_DATA_LEN, failed) == 0) {
            return 0;
        }
        if (*failed != elabel_store_step::publish || errno != EEXIST) {
            return -1;
        }
    }
    return -1;
}

} // namespace

uint32_t elabel_reset_rows(const uint8_t *replaced, const uint8_t *image)
{
    uint32_t rows = 0;
    for (int row = 0; row < ELABEL_ITEM_NUM; ++row) {
        const elabel_item_desc &item = elabel_item_table[row];
        if (!elabel_item_valid(replaced, item) && !erased(replaced, item) &&
            holds_default(image, item)) {
            rows |= 1u << row;
        }
    }
    return rows;
}

int32_t elabel_keep_label(const uint8_t *label, char *path, size_t size)
{
    const char *dir = elabel_platform.record_dir;
    if (dir == nullptr) {
        errno = ENOENT;
        return -1;
    }
    if (make_dir(dir) != 0) {
        const int err = errno;
        ELABEL_ERR("label not kept: directory %s: %s\n", dir, std::strerror(err));
        errno = err;
        return -1;
    }
    static listing kept;
    if (!list_kept(dir, &kept)) {
        const int err = errno;
        ELABEL_ERR("label not kept: directory %s not listed: %s\n", dir, std::strerror(err));
        errno = err;
        return -1;
    }
    if (find_same(dir, kept, label, path, size)) {
        return 0;
    }
    elabel_store_step failed = elabel_store_step::create;
    if (store_new(dir, kept, label, path, size, &failed) == 0) {
        return 0;
    }
    const int err = errno;
    if (failed == elabel_store_step::fsync_dir) {
        ELABEL_ERR("label kept in %s, directory not synced: %s\n", path, std::strerror(err));
        return 0;
    }
    ELABEL_ERR("label not kept in %s (%s: %s)\n", dir, elabel_store_step_name(failed),
               std::strerror(err));
    errno = err;
    return -1;
}

void elabel_keep_prune(const char *named)
{
    const char *dir = elabel_platform.record_dir;
    static listing kept;
    if (dir == nullptr || !list_kept(dir, &kept)) {
        return;
    }
    static const char *by_age[LISTED_MAX];
    for (size_t i = 0; i < kept.count; ++i) {
        by_age[i] = kept.names[i];
    }
    std::sort(by_age, by_age + kept.count, older);
    size_t removed = 0;
    char path[ELABEL_KEPT_PATH_MAX];
    for (size_t i = 0; i + ELABEL_KEPT_MAX < kept.count; ++i) {
        if (!join(dir, by_age[i], path, sizeof(path)) || std::strcmp(path, named) == 0) {
            continue;
        }
        if (elabel_platform.file.unlink(path) != 0) {
            ELABEL_ERR("kept label %s not removed: %s\n", path, std::strerror(errno));
        } else {
            ++removed;
        }
    }
    if (removed > 0) {
        if (const int synced = elabel_sync_parent(path); synced != 0) {
            ELABEL_ERR("kept labels removed, directory %s not synced: %s\n", dir,
                       std::strerror(-synced));
        }
    }
}
