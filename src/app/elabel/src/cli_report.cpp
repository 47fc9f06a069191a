#include <cstdio>

#include "elabel_cli.h"
#include "elabel_names.h"

namespace {

void tell_resets(const elabel_writeback_report &report)
{
    for (int row = 0; row < ELABEL_ITEM_NUM; ++row) {
        if ((report.reset_rows & (1u << row)) != 0) {
            std::fprintf(stderr,
                         "elabel: item 0x%02x (%s) failed its check and is stored as its default; "
                         "the label as it was is kept in %s\n",
                         static_cast<unsigned>(elabel_item_table[row].id), elabel_item_names[row],
                         report.kept);
        }
    }
}

void tell_record(const elabel_writeback_report &report, const char *then)
{
    if (report.pending[0] != '\0') {
        std::fprintf(stderr, "; the pending-write record %s stays and %s", report.pending, then);
    }
    std::fputc('\n', stderr);
}

} // namespace

extern "C" void elabel_tell_writeback(void)
{
    elabel_writeback_report report{};
    elabel_writeback_report_get(&report);
    switch (report.outcome) {
    case ELABEL_WRITEBACK_REFUSED:
        std::fprintf(stderr, "elabel: label not written: %s\n", report.why);
        return;
    case ELABEL_WRITEBACK_UNCHANGED:
        std::fputs("elabel: label not written: the part still holds the label it had (write "
                   "protection?)\n",
                   stderr);
        break;
    case ELABEL_WRITEBACK_UNCHECKED:
        tell_resets(report);
        std::fputs("elabel: the label was written but could not be read back", stderr);
        tell_record(report, "the next run checks it");
        return;
    case ELABEL_WRITEBACK_PARTIAL:
        std::fputs("elabel: the label was not written as asked (the system log says how)", stderr);
        tell_record(report, "the next run finishes it");
        return;
    case ELABEL_WRITEBACK_WRITTEN:
        tell_resets(report);
        break;
    default:
        return;
    }
    if (report.pending[0] != '\0') {
        std::fprintf(stderr, "elabel: %s; later writes wait for it\n", report.why);
    } else if (report.outcome == ELABEL_WRITEBACK_WRITTEN && report.recorded == 0 &&
               report.why[0] != '\0') {
        std::fprintf(stderr,
                     "elabel: written without a pending-write record (%s): a cut during the "
                     "write-back would have lost items\n",
                     report.why);
    }
}
