#include "elabel_publish.h"

#include <fcntl.h>
#include <limits.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "elabel_file.h"
#include "elabel_json.h"
#include "elabel_log.h"
#include "elabel_platform.h"
#include "elabel_record.h"
#include "elabel_writeback.h"

namespace {

constexpr mode_t FILE_MODE = 0644;
constexpr mode_t DIR_MODE = 0755;
// The document of any label fits: per item its fixed text, the bytes as hex and
// as text with every byte escaped, under 15 KiB in all.
constexpr size_t JSON_MAX = 32768;

// The directory, made with exactly DIR_MODE when it is not there.
int make_dir(const char *dir)
{
    if (elabel_platform.file.mkdir(dir, DIR_MODE) != 0) {
        return errno == EEXIST ? 0 : -1;
    }
    const int fd = elabel_platform.file.open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const int ret = elabel_platform.file.fchmod(fd, DIR_MODE);
    const int saved = errno;
    elabel_platform.file.close(fd);
    errno = saved;
    return ret;
}

int store(const char *name, const uint8_t *data, size_t len)
{
    char path[PATH_MAX];
    char temp[PATH_MAX];
    char temp_name[64];
    std::snprintf(temp_name, sizeof(temp_name), ".%s.tmp", name);
    if (!elabel_published_path(name, path, sizeof(path)) ||
        !elabel_published_path(temp_name, temp, sizeof(temp))) {
        errno = ENAMETOOLONG;
        return -1;
    }
    // The mode set exactly, whatever the umask.
    const elabel_file_owner owner{FILE_MODE, 0, 0, false};
    const elabel_store_target dest{path, temp, true, FILE_MODE, &owner};
    elabel_store_step failed{};
    return elabel_store_file(dest, data, len, &failed);
}

// The JSON document in `buffer`: its length, or 0 when it did not fit.
size_t write_json(const uint8_t *label, char *buffer, size_t size)
{
    FILE *out = fmemopen(buffer, size, "w");
    if (out == nullptr) {
        return 0;
    }
    elabel_json_write(out, label, ELABEL_FLASH_OFFSET);  // as show --json board
    const long len = std::ftell(out);
    const bool ok = std::fflush(out) == 0 && std::ferror(out) == 0 && len > 0 &&
                    static_cast<size_t>(len) < size;
    std::fclose(out);
    return ok ? static_cast<size_t>(len) : 0;
}

int publish_files(const uint8_t *label)
{
    if (make_dir(elabel_platform.publish_dir) != 0 ||
        store(ELABEL_PUBLISHED_LABEL, label, ELABEL_DATA_LEN) != 0) {
        return -1;
    }
    auto *json = static_cast<char *>(elabel_platform.memory.alloc(JSON_MAX));
    if (json == nullptr) {
        errno = ENOMEM;
        return -1;
    }
    const size_t len = write_json(label, json, JSON_MAX);
    int ret = -1;
    if (len == 0) {
        errno = EFBIG;
    } else {
        ret = store(ELABEL_PUBLISHED_JSON, reinterpret_cast<uint8_t *>(json), len);
    }
    const int saved = errno;
    elabel_platform.memory.dealloc(json);
    errno = saved;
    return ret;
}

} // namespace

void elabel_publish_withdraw()
{
    constexpr const char *NAMES[] = {ELABEL_PUBLISHED_LABEL, ELABEL_PUBLISHED_JSON};
    for (const char *name : NAMES) {
        char path[PATH_MAX];
        if (elabel_published_path(name, path, sizeof(path))) {
            (void)elabel_platform.file.unlink(path);
        }
    }
}

namespace {

// A record pending, or a damaged one set aside: the label may be as a cut left it.
bool may_be_cut()
{
    char torn[ELABEL_RECORD_PATH_MAX];
    const elabel_record_state state = elabel_record_look();
    return (state != elabel_record_state::none && state != elabel_record_state::blocked) ||
           elabel_record_damaged_aside(torn);
}

} // namespace

bool elabel_published_path(const char *name, char *out, size_t size)
{
    const char *dir = elabel_platform.publish_dir;
    if (dir == nullptr) {
        return false;
    }
    const int n = std::snprintf(out, size, "%s/%s", dir, name);
    return n > 0 && static_cast<size_t>(n) < size;
}

int elabel_publish(const uint8_t *label)
{
    if (elabel_platform.publish_dir == nullptr) {
        return 0;
    }
    if (publish_files(label) == 0) {
        return 0;
    }
    const int err = errno;
    elabel_publish_withdraw();
    ELABEL_ERR("label not published in %s: %s\n", elabel_platform.publish_dir,
               std::strerror(err));
    errno = err;
    return -1;
}

elabel_publish_result elabel_publish_board()
{
    int32_t fd = -1;
    if (elabel_set_lock(&fd, ELABEL_LOCK_TRIES) != 0) {
        return elabel_publish_result::busy;
    }
    uint8_t label[ELABEL_DATA_LEN];
    elabel_publish_result result = elabel_publish_result::published;
    if (!elabel_read_region(label)) {
        result = elabel_publish_result::unread;
    } else if (may_be_cut()) {
        result = elabel_publish_result::pending;
    } else if (elabel_publish(label) != 0) {
        result = elabel_publish_result::not_stored;
    }
    elabel_set_unlock(fd);
    return result;
}
