#include "elabel_report.h"

#include <cstdio>
#include <cstring>

elabel_writeback_report elabel_report;

void elabel_report_clear()
{
    std::memset(&elabel_report, 0, sizeof(elabel_report));
}

void elabel_report_pending(const char *path, const char *why)
{
    std::snprintf(elabel_report.pending, sizeof(elabel_report.pending), "%s", path);
    elabel_report_why(why);
}

void elabel_report_why(const char *why)
{
    std::snprintf(elabel_report.why, sizeof(elabel_report.why), "%s", why);
}

extern "C" void elabel_writeback_report_get(elabel_writeback_report *out)
{
    if (out != nullptr) {
        *out = elabel_report;
    }
}
