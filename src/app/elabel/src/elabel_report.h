// The write-back report (elabel.h): what the last write-back did, filled by
// the write-back and the record's owner as they go.
#ifndef ELABEL_REPORT_H
#define ELABEL_REPORT_H

#include "elabel.h"

extern elabel_writeback_report elabel_report;

void elabel_report_clear();
// Notes a pending-write record that stays, and why.
void elabel_report_pending(const char *path, const char *why);
void elabel_report_why(const char *why);

#endif
