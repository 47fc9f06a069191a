// The end of a run: what standard error must add to the result before the
// process exits.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "elabel.h"
#include "elabel_cli.h"
#include "elabel_lock.h"

namespace {

// A lock file that cannot be opened makes a load report the bus busy, as a
// lock held by another run does; only this line tells the two apart.
void report_lock_file()
{
    const int err = elabel_lock_open_error();
    if (err != 0) {
        std::fprintf(stderr, "elabel: cannot open the lock file %s: %s\n", ELABEL_LOCK_FILE,
                      std::strerror(err));
    }
}

// Flushes standard output; false when it or an earlier write failed, with
// *err the reason when the flush knows it.
bool output_written(int *err)
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    *err = flushed ? 0 : errno;
    return flushed && std::ferror(stdout) == 0;
}

// A load that found an unfinished write-back it could not settle read
// nothing; a write-back tells its own.
void report_pending()
{
    elabel_writeback_report report{};
    elabel_writeback_report_get(&report);
    if (!elabel_writeback_told() && report.pending[0] != '\0') {
        std::fprintf(stderr, "elabel: an unfinished write-back is pending: record %s (%s)\n",
                     report.pending, report.why);
    }
}

} // namespace

extern "C" int32_t elabel_finish(int32_t ret, bool label_written)
{
    if (ret != 0) {
        report_lock_file();
        report_pending();
    }
    int err = 0;
    if (output_written(&err)) {
        return ret;
    }
    std::fprintf(stderr, "elabel: cannot write standard output%s%s%s\n", err != 0 ? ": " : "",
                 err != 0 ? std::strerror(err) : "",
                 label_written ? "; the label was written" : "");
    return ret != 0 ? ret : -1;
}
