#include "elabel_file.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

int elabel_write_all(int fd, const uint8_t *data, size_t len)
{
    while (len > 0) {
        const ssize_t n = write(fd, data, len);
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
    const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return -errno;
    }
    const int ret = fsync(fd) != 0 ? -errno : 0;
    close(fd);
    return ret;
}
