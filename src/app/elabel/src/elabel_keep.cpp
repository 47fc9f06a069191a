#include "elabel_keep.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "elabel_file.h"
#include "elabel_image.h"
#include "elabel_log.h"
#include "elabel_platform.h"

namespace {

constexpr int NAME_TRIES = 100;
constexpr size_t NAME_MAX_LEN = 64;
constexpr size_t LISTED_MAX = 256;

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

// "kept-label-20261208T101500Z" and, when that is taken, "...-01" up to "-99":
// names that sort by age.
bool kept_name(time_t now, int attempt, char *name, size_t size)
{
    struct tm utc {};
    if (gmtime_r(&now, &utc) == nullptr) {
        return false;
    }
    char stamp[32];
    if (std::strftime(stamp, sizeof(stamp), "%Y%m%dT%H%M%SZ", &utc) == 0) {
        return false;
    }
    const int n = attempt == 0
                      ? std::snprintf(name, size, "%s%s.bin", ELABEL_KEPT_PREFIX, stamp)
                      : std::snprintf(name, size, "%s%s-%02d.bin", ELABEL_KEPT_PREFIX, stamp, attempt);
    return n > 0 && static_cast<size_t>(n) < size;
}

bool is_kept(const char *name)
{
    const size_t len = std::strlen(name);
    return std::strncmp(name, ELABEL_KEPT_PREFIX, std::strlen(ELABEL_KEPT_PREFIX)) == 0 &&
           len > 4 && len < NAME_MAX_LEN && std::strcmp(name + len - 4, ".bin") == 0;
}

// Older first: by the name without ".bin", so that "...Z" comes before "...Z-01".
bool older(const char *a, const char *b)
{
    const size_t la = std::strlen(a) - 4;
    const size_t lb = std::strlen(b) - 4;
    const int c = std::strncmp(a, b, std::min(la, lb));
    return c != 0 ? c < 0 : la < lb;
}

// Removes all but the newest kept labels, `newest` among them (names made in
// one second do not sort by age); a failure is logged and changes nothing else.
void prune(const char *dir, const char *newest)
{
    static char names[LISTED_MAX][NAME_MAX_LEN];
    DIR *listing = elabel_platform.file.opendir(dir);
    if (listing == nullptr) {
        return;
    }
    size_t count = 0;
    while (const dirent *entry = elabel_platform.file.readdir(listing)) {
        if (count < LISTED_MAX && is_kept(entry->d_name) &&
            std::strcmp(entry->d_name, newest) != 0) {
            // is_kept bounds the length; the precision lets the compiler see it.
            std::snprintf(names[count], NAME_MAX_LEN, "%.*s", static_cast<int>(NAME_MAX_LEN - 1),
                          entry->d_name);
            ++count;
        }
    }
    (void)elabel_platform.file.closedir(listing);
    char path[ELABEL_KEPT_PATH_MAX] = "";
    // The oldest goes, one at a time: a handful of names, kept small.
    for (; count + 1 > static_cast<size_t>(ELABEL_KEPT_MAX); --count) {
        size_t oldest = 0;
        for (size_t i = 1; i < count; ++i) {
            oldest = older(names[i], names[oldest]) ? i : oldest;
        }
        std::snprintf(path, sizeof(path), "%s/%.*s", dir, static_cast<int>(NAME_MAX_LEN - 1),
                      names[oldest]);
        if (elabel_platform.file.unlink(path) != 0) {
            ELABEL_ERR("kept label %s not removed: %s\n", path, std::strerror(errno));
        }
        std::memcpy(names[oldest], names[count - 1], NAME_MAX_LEN);
    }
    if (path[0] != '\0') {
        (void)elabel_sync_parent(path);
    }
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
        ELABEL_ERR("label not kept: directory %s: %s\n", dir, std::strerror(errno));
        return -1;
    }
    const time_t now = elabel_platform.time(nullptr);
    char name[NAME_MAX_LEN];
    char temp[ELABEL_KEPT_PATH_MAX];
    std::snprintf(temp, sizeof(temp), "%s/.%stmp", dir, ELABEL_KEPT_PREFIX);
    elabel_store_step failed = elabel_store_step::create;
    for (int attempt = 0; attempt < NAME_TRIES; ++attempt) {
        const int n = kept_name(now, attempt, name, sizeof(name))
                          ? std::snprintf(path, size, "%s/%s", dir, name)
                          : -1;
        if (n <= 0 || static_cast<size_t>(n) >= size) {
            errno = ENAMETOOLONG;
            break;
        }
        if (elabel_store_file(path, temp, label, ELABEL_DATA_LEN, false, &failed) == 0 ||
            failed == elabel_store_step::fsync_dir) {
            if (failed == elabel_store_step::fsync_dir) {
                ELABEL_ERR("label kept in %s, directory not synced: %s\n", path,
                           std::strerror(errno));
            }
            prune(dir, name);
            return 0;
        }
        if (failed != elabel_store_step::publish || errno != EEXIST) {
            break;
        }
    }
    const int err = errno;
    ELABEL_ERR("label not kept in %s (%s: %s)\n", dir, elabel_store_step_name(failed),
               std::strerror(err));
    errno = err;
    return -1;
}
