// What elabel says on standard error of a write-back's outcome: one table.
#include <cstdio>

#include "elabel_cli.h"
#include "elabel_names.h"

namespace {

struct told_row {
    const char *said;    // the line, or nullptr; "%s" takes the report's why
    const char *then;    // after "the pending-write record X stays and", when one stays
    int32_t outcome;
    bool resets;         // the items stored as their default are named
    bool written;        // the part holds the label: a record that stays, or none, is said
};

constexpr const char *KEPT_ITS_LABEL =
    "label not written: the part still holds the label it had (write protection?)";
constexpr const char *NOT_AS_ASKED = "the label was not written as asked (the system log says how)";
constexpr told_row TOLD[] = {
    {nullptr, nullptr, ELABEL_WRITEBACK_WRITTEN, true, true},
    {"label not written: %s", nullptr, ELABEL_WRITEBACK_REFUSED, false, false},
    {KEPT_ITS_LABEL, nullptr, ELABEL_WRITEBACK_UNCHANGED, false, true},
    {KEPT_ITS_LABEL, nullptr, ELABEL_WRITEBACK_FAILED, false, true},
    {"the label was written but could not be read back", "the next run checks it",
     ELABEL_WRITEBACK_UNCHECKED, true, false},
    {NOT_AS_ASKED, "the next run finishes it", ELABEL_WRITEBACK_PARTIAL, false, false},
    {NOT_AS_ASKED, "the next run finishes it", ELABEL_WRITEBACK_MISREAD, false, false},
    {NOT_AS_ASKED, "the next run sets it aside", ELABEL_WRITEBACK_WORN, false, false},
};

bool told = false;

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

void tell_line(const told_row &row, const elabel_writeback_report &report)
{
    std::fputs("elabel: ", stderr);
    std::fprintf(stderr, row.said, report.why);
    if (row.then != nullptr && report.pending[0] != '\0') {
        std::fprintf(stderr, "; the pending-write record %s stays and %s", report.pending,
                     row.then);
    }
    std::fputc('\n', stderr);
}

// The part holds a label: a record that could not be removed, or a write-back
// that went without one.
void tell_record(const elabel_writeback_report &report)
{
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

} // namespace

extern "C" void elabel_tell_writeback(void)
{
    elabel_writeback_report report{};
    elabel_writeback_report_get(&report);
    for (const told_row &row : TOLD) {
        if (row.outcome != report.outcome) {
            continue;
        }
        told = true;
        if (row.resets && report.reset_rows != 0) {
            tell_resets(report);
        } else if (row.resets && report.kept[0] != '\0') {
            std::fprintf(stderr, "elabel: the label as it was is kept in %s\n", report.kept);
        } else if (report.kept[0] != '\0') {
            std::fprintf(stderr, "elabel: the label it would have replaced is kept in %s\n",
                         report.kept);
        }
        if (row.said != nullptr) {
            tell_line(row, report);
        }
        if (row.written) {
            tell_record(report);
        }
        return;
    }
}

bool elabel_writeback_told()
{
    return told;
}

void elabel_writeback_untold()
{
    told = false;
}
