#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "elabel_file.h"
#include "image_tool.h"

namespace {

// New files get the usual 0666 less the umask, as a shell redirection would.
mode_t file_mode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

} // namespace

void image_error(const char *fmt, ...)
{
    std::fputs("elabel-image: ", stderr);
    va_list args;
    va_start(args, fmt);
    std::vfprintf(stderr, fmt, args);
    va_end(args);
    std::fputc('\n', stderr);
}

int image_read_file(const char *path, image_file *file)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -errno;
    }
    size_t size = 0;
    int ret = 0;
    for (;;) {
        // One byte more than the largest file, to tell a file that is too long.
        uint8_t extra = 0;
        uint8_t *to = size < sizeof(file->bytes) ? file->bytes + size : &extra;
        const size_t room = size < sizeof(file->bytes) ? sizeof(file->bytes) - size : 1;
        const ssize_t n = read(fd, to, room);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ret = -errno;
            break;
        }
        if (n == 0) {
            break;
        }
        if (to == &extra) {
            ret = -EFBIG;
            break;
        }
        size += static_cast<size_t>(n);
    }
    close(fd);
    if (ret == 0) {
        file->size = size;
    }
    return ret;
}

int image_write_file(const char *path, const uint8_t *bytes, size_t size)
{
    char temp[PATH_MAX];
    const int n = std::snprintf(temp, sizeof(temp), "%s.XXXXXX", path);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(temp)) {
        return -ENAMETOOLONG;
    }
    const int fd = mkostemp(temp, O_CLOEXEC);
    if (fd < 0) {
        return -errno;
    }
    int ret = elabel_write_all(fd, bytes, size);
    if (ret == 0 && fchmod(fd, file_mode()) != 0) {
        ret = -errno;
    }
    if (ret == 0 && fsync(fd) != 0) {
        ret = -errno;
    }
    if (close(fd) != 0 && ret == 0) {
        ret = -errno;
    }
    if (ret == 0 && rename(temp, path) != 0) {
        ret = -errno;
    }
    if (ret != 0) {
        unlink(temp);
        return ret;
    }
    return elabel_sync_parent(path);
}

int image_locate(image_file *file, long offset)
{
    size_t at = ELABEL_FLASH_OFFSET;
    if (offset >= 0) {
        at = static_cast<size_t>(offset);
    } else if (file->size == ELABEL_DATA_LEN) {
        at = 0;
    }
    if (file->size < ELABEL_DATA_LEN || at > file->size - ELABEL_DATA_LEN) {
        return -1;
    }
    file->label_at = at;
    return 0;
}

int image_load(const char *path, long offset, image_file *file)
{
    const int ret = image_read_file(path, file);
    if (ret != 0) {
        image_error("%s: %s", path, std::strerror(-ret));
        return IMAGE_USAGE;
    }
    if (image_locate(file, offset) != 0) {
        image_error("%s: %zu bytes, too short for the %d-byte label at byte %ld", path, file->size,
                    ELABEL_DATA_LEN, offset >= 0 ? offset : long{ELABEL_FLASH_OFFSET});
        return IMAGE_USAGE;
    }
    return IMAGE_OK;
}
