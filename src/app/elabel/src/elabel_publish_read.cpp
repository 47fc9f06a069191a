// The published label read back, for a reader that may not take the lock.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>

#include <cerrno>

#include "elabel.h"
#include "elabel_file.h"
#include "elabel_platform.h"
#include "elabel_publish.h"

namespace {

// The file whole into `bytes`, room for one byte more than a label to catch a
// longer one: 0 or -errno.
int read_published(uint8_t (&bytes)[ELABEL_DATA_LEN + 1], time_t *read_at)
{
    char path[PATH_MAX];
    if (!elabel_published_path(ELABEL_PUBLISHED_LABEL, path, sizeof(path))) {
        return -ENOENT;
    }
    const int fd = elabel_platform.file.open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0);
    if (fd < 0) {
        return -errno;
    }
    struct stat st {};
    int ret = 0;
    const bool stated = elabel_platform.file.fstat(fd, &st) == 0;
    const ssize_t n = stated ? elabel_read_all(fd, bytes, sizeof(bytes)) : -1;
    if (n < 0) {
        ret = -errno;
    } else if (!S_ISREG(st.st_mode) || n != ELABEL_DATA_LEN) {
        ret = -EINVAL;
    }
    elabel_platform.file.close(fd);
    if (ret == 0) {
        *read_at = st.st_mtime;
    }
    return ret;
}

} // namespace

int elabel_load_published(time_t *read_at)
{
    uint8_t label[ELABEL_DATA_LEN + 1];
    time_t at = 0;
    if (const int ret = read_published(label, &at); ret != 0) {
        return ret;
    }
    driver_elabel_release();
    auto *image = static_cast<uint8_t *>(elabel_platform.memory.alloc(ELABEL_DATA_LEN));
    if (image == nullptr) {
        return -ENOMEM;
    }
    if (elabel_platform.memory.copy(image, ELABEL_DATA_LEN, label, ELABEL_DATA_LEN) != 0) {
        elabel_platform.memory.dealloc(image);
        return -ENOMEM;
    }
    elabel_data = image;
    driver_elabel_verify(elabel_data);
    *read_at = at;
    return 0;
}
