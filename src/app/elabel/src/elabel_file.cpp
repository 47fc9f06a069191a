#include "elabel_file.h"

#include <fcntl.h>
#include <limits.h>

#include <cerrno>
#include <cstring>

#include "elabel_platform.h"

int elabel_write_all(int fd, const uint8_t *data, size_t len)
{
    while (len > 0) {
        const ssize_t n = elabel_platform.file.write(fd, data, len);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -errno;
        }
        if (n == 0) {
            return -EIO;
        }
        data += n;
        len -= static_cast<size_t>(n);
    }
    return 0;
}

ssize_t elabel_read_all(int fd, uint8_t *data, size_t max)
{
    size_t got = 0;
    while (got < max) {
        const ssize_t n = elabel_platform.file.read(fd, data + got, max - got);
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

int elabel_sync_parent(const char *path)
{
    char dir[PATH_MAX];
    const char *slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        std::strcpy(dir, ".");
    } else {
        const size_t len = slash == path ? 1 : static_cast<size_t>(slash - path);
        if (len >= sizeof(dir)) {
            return -ENAMETOOLONG;
        }
        std::memcpy(dir, path, len);
        dir[len] = '\0';
    }
    const int fd = elabel_platform.file.open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) {
        return -errno;
    }
    const int ret = elabel_platform.file.fsync(fd) != 0 ? -errno : 0;
    elabel_platform.file.close(fd);
    return ret;
}

namespace {

constexpr const char *STEP_NAMES[] = {"create", "write", "fsync", "close", "rename",
                                      "fsync directory"};

// Writes the temporary whole and durable; the step that failed, if any.
bool write_temp(const char *temp, const uint8_t *data, size_t len, elabel_store_step *failed)
{
    (void)elabel_platform.file.unlink(temp);
    *failed = elabel_store_step::create;
    const int fd =
        elabel_platform.file.open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return false;
    }
    bool ok = true;
    if (const int ret = elabel_write_all(fd, data, len); ret != 0) {
        errno = -ret;
        *failed = elabel_store_step::write;
        ok = false;
    } else if (elabel_platform.file.fsync(fd) != 0) {
        *failed = elabel_store_step::fsync;
        ok = false;
    }
    const int saved = errno;
    if (elabel_platform.file.close(fd) != 0 && ok) {
        *failed = elabel_store_step::close;
        return false;
    }
    errno = saved;
    return ok;
}

bool publish(const char *path, const char *temp, bool replace)
{
    if (replace) {
        return elabel_platform.file.rename(temp, path) == 0;
    }
    if (elabel_platform.file.link(temp, path) != 0) {
        return false;
    }
    (void)elabel_platform.file.unlink(temp);
    return true;
}

} // namespace

const char *elabel_store_step_name(elabel_store_step step)
{
    return STEP_NAMES[static_cast<int>(step)];
}

int elabel_store_file(const char *path, const char *temp, const uint8_t *data, size_t len,
                      bool replace, elabel_store_step *failed)
{
    bool stored = write_temp(temp, data, len, failed);
    if (stored && !publish(path, temp, replace)) {
        *failed = elabel_store_step::publish;
        stored = false;
    }
    if (!stored) {
        const int err = errno;
        (void)elabel_platform.file.unlink(temp);
        errno = err;
        return -1;
    }
    *failed = elabel_store_step::fsync_dir;
    if (const int synced = elabel_sync_parent(path); synced != 0) {
        errno = -synced;
        return -1;
    }
    return 0;
}
