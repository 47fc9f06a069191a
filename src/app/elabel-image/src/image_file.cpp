#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "elabel_platform.h"
#include "image_tool.h"

void image_error(const char *fmt, ...)
{
    std::fputs("elabel-image: ", stderr);
    va_list args;
    va_start(args, fmt);
    std::vfprintf(stderr, fmt, args);
    va_end(args);
    std::fputc('\n', stderr);
}

const char *image_bytes(size_t n)
{
    return n == 1 ? "byte" : "bytes";
}

bool image_is_stdio(const char *path)
{
    return std::strcmp(path, "-") == 0;
}

const char *image_file_name(const char *path)
{
    return image_is_stdio(path) ? "standard input" : path;
}

int image_flush_stdout()
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        image_error("standard output: write error");
        return IMAGE_USAGE;
    }
    return IMAGE_OK;
}

int image_read_file(const char *path, image_file *file)
{
    const bool stdio = image_is_stdio(path);
    const int fd = stdio ? STDIN_FILENO : elabel_platform.file.open(path, O_RDONLY | O_CLOEXEC, 0);
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
        const ssize_t n = elabel_platform.file.read(fd, to, room);
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
    if (!stdio) {
        elabel_platform.file.close(fd);
    }
    if (ret == 0) {
        file->size = size;
    }
    return ret;
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

int image_read(const char *path, image_file *file)
{
    const char *name = image_file_name(path);
    const int ret = image_read_file(path, file);
    if (ret == -EFBIG) {
        image_error("%s: longer than %zu bytes, the largest EEPROM image", name, IMAGE_FILE_MAX);
        return IMAGE_USAGE;
    }
    if (ret != 0) {
        image_error("%s: %s", name, std::strerror(-ret));
        return IMAGE_USAGE;
    }
    return IMAGE_OK;
}

int image_place(const char *path, long offset, image_file *file)
{
    if (image_locate(file, offset) != 0) {
        image_error("%s: %zu %s, too short for the %d-byte label at byte %ld", image_file_name(path),
                    file->size, image_bytes(file->size), ELABEL_DATA_LEN,
                    offset >= 0 ? offset : long{ELABEL_FLASH_OFFSET});
        return IMAGE_USAGE;
    }
    return IMAGE_OK;
}

int image_load(const char *path, long offset, image_file *file)
{
    if (image_read(path, file) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    if (image_is_record(*file)) {
        image_error("%s: a pending-write record, not a label file: 'elabel-image show' shows "
                    "its two labels, 'elabel-image extract' writes either as a label file",
                    image_file_name(path));
        return IMAGE_USAGE;
    }
    return image_place(path, offset, file);
}
