// getall and get for a user who may not open the lock file (anyone but root):
// the label as last published, never the board.
#include <limits.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "elabel.h"
#include "elabel_cli.h"
#include "elabel_platform.h"
#include "elabel_publish.h"

namespace {

void format_time(time_t at, char *out, size_t size)
{
    struct tm utc {};
    if (gmtime_r(&at, &utc) == nullptr ||
        std::strftime(out, size, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
        std::snprintf(out, size, "at %lld", static_cast<long long>(at));
    }
}

void tell_none(int lock_error, const char *path, int err)
{
    std::fprintf(stderr,
                 "elabel: cannot open the lock file %s: %s (reading the board needs root); no "
                 "published copy of the label either: %s: %s\n",
                 ELABEL_LOCK_FILE, std::strerror(lock_error), path,
                 err == EINVAL ? "not a label" : std::strerror(err));
}

} // namespace

extern "C" bool elabel_use_published(int lock_error)
{
    char path[PATH_MAX];
    if (!elabel_published_path(ELABEL_PUBLISHED_LABEL, path, sizeof(path))) {
        std::snprintf(path, sizeof(path), "(no publish directory)");
    }
    time_t read_at = 0;
    if (const int ret = elabel_load_published(&read_at); ret != 0) {
        tell_none(lock_error, path, -ret);
        return false;
    }
    char when[32];
    format_time(read_at, when, sizeof(when));
    std::fprintf(stderr,
                 "elabel: the published copy %s, read %s (cannot open the lock file %s: %s)\n",
                 path, when, ELABEL_LOCK_FILE, std::strerror(lock_error));
    return true;
}

extern "C" bool elabel_lacks_permission(int err)
{
    return err == EACCES || err == EPERM;
}
