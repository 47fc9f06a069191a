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
