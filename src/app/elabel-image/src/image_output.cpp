// Output files: never anything but a regular file is replaced, and the file is
// either complete or untouched, whenever the run is cut.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "elabel_file.h"
#include "elabel_platform.h"
#include "elabel_signals.h"
#include "image_tool.h"

namespace {

struct target {
    bool exists;
    mode_t mode;
    uid_t uid;
    gid_t gid;
};

const char *kind_of(mode_t mode)
{
    if (S_ISLNK(mode)) {
        return "a symbolic link";
    }
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a regular file";
}

// What is at the path now: nothing, or a regular file whose mode and owner the
// new file keeps, but never its set-user-id or set-group-id bit.
// IMAGE_OK or IMAGE_USAGE after a message.
int inspect_target(const char *path, target *out)
{
    struct stat st {};
    if (elabel_platform.file.lstat(path, &st) != 0) {
        if (errno != ENOENT) {
            image_error("%s: %s", path, std::strerror(errno));
            return IMAGE_USAGE;
        }
        *out = target{false, 0, 0, 0};
        return IMAGE_OK;
    }
    if (!S_ISREG(st.st_mode)) {
        image_error("%s: is %s; only a regular file is replaced", path, kind_of(st.st_mode));
        return IMAGE_USAGE;
    }
    const mode_t kept = st.st_mode & 07777 & ~static_cast<mode_t>(S_ISUID | S_ISGID);
    *out = target{true, kept, st.st_uid, st.st_gid};
    return IMAGE_OK;
}

// "DIR/.NAME.XXXXXX" beside the path (hidden, on the same file system), made
// unique when it is created.
int temp_name(const char *path, char *out, size_t size)
{
    const char *slash = std::strrchr(path, '/');
    const int dir_len = slash != nullptr ? static_cast<int>(slash - path + 1) : 0;
    const char *base = path + dir_len;
    const int n = std::snprintf(out, size, "%.*s.%s.XXXXXX", dir_len, path, base);
    return n >= 0 && static_cast<size_t>(n) < size ? 0 : -ENAMETOOLONG;
}

// The file stored durably over the path: 0, 1 when only its directory could
// not be synced (it is in place), or -errno.
int replace(const char *path, const uint8_t *bytes, size_t size, const target &t)
{
    char temp[PATH_MAX];
    if (temp_name(path, temp, sizeof(temp)) != 0) {
        return -ENAMETOOLONG;
    }
    // As root the old owner is kept.
    const elabel_file_owner owner{t.mode, t.uid, t.gid, geteuid() == 0};
    const elabel_store_target dest{path, temp, true, 0666, t.exists ? &owner : nullptr};
    elabel_store_step failed = elabel_store_step::create;
    if (elabel_store_file(dest, bytes, size, &failed) == 0) {
        return 0;
    }
    return failed == elabel_store_step::fsync_dir ? 1 : -errno;
}

int write_stdout(const uint8_t *bytes, size_t size)
{
    const int ret = elabel_write_all(STDOUT_FILENO, bytes, size);
    if (ret != 0) {
        image_error("standard output: %s", std::strerror(-ret));
        return IMAGE_USAGE;
    }
    return IMAGE_OK;
}

} // namespace

int image_write_output(const char *path, const uint8_t *bytes, size_t size)
{
    if (image_is_stdio(path)) {
        return write_stdout(bytes, size);
    }
    target t{};
    if (inspect_target(path, &t) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    // A terminating signal waits until the temporary file is renamed or removed.
    elabel_held_signals held{};
    elabel_hold_signals(&held);
    const int ret = replace(path, bytes, size, t);
    elabel_release_signals(&held);
    if (ret < 0) {
        image_error("%s: %s; nothing written", path, std::strerror(-ret));
        return IMAGE_USAGE;
    }
    if (ret > 0) {
        image_error("%s: %s, but syncing its directory failed: %s", path,
                    t.exists ? "replaced" : "written", std::strerror(errno));
        return IMAGE_USAGE;
    }
    return IMAGE_OK;
}
