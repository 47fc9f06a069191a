#include "elabel_writeback.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "elabel_keep.h"
#include "elabel_known.h"
#include "elabel_log.h"
#include "elabel_platform.h"
#include "elabel_record.h"
#include "elabel_report.h"

namespace {

constexpr int READ_TRIES = 3;
constexpr uint8_t ZEROS[ELABEL_DATA_LEN] = {};

// Nothing is written: the reason goes to the log and to the report.
void refuse(elabel_writeback *wb, const char *why)
{
    ELABEL_ERR("label not written: %s\n", why);
    elabel_report_why(why);
    wb->failed = elabel_pass::not_started;
}

// A record left by an earlier write-back is settled first, as a step of its
// own: this one's record takes its place, which it must not do while that one
// stays.
bool settle_earlier(elabel_writeback *wb)
{
    if (!elabel_recovery_pending(elabel_record_recover())) {
        return true;
    }
    char why[2 * ELABEL_REPORT_PATH_MAX + 64];
    std::snprintf(why, sizeof(why), "an unfinished write-back is pending (record %s: %s)",
                  elabel_report.pending, elabel_report.why);
    refuse(wb, why);
    return false;
}

bool know_replaced(elabel_writeback *wb)
{
    const uint8_t *known = elabel_known();
    if (known != nullptr) {
        std::memcpy(wb->replaced, known, ELABEL_DATA_LEN);
        return true;
    }
    if (elabel_read_region(wb->replaced)) {
        return true;
    }
    refuse(wb, "the label it would replace could not be read");
    return false;
}

// Items that failed their check and would be stored as defaults: the label
// they come from is kept first, or nothing is written.
bool keep_repaired(elabel_writeback *wb)
{
    elabel_report.reset_rows = elabel_reset_rows(wb->replaced, wb->image);
    if (elabel_report.reset_rows == 0) {
        return true;
    }
    if (elabel_keep_label(wb->replaced, elabel_report.kept, sizeof(elabel_report.kept)) == 0) {
        return true;
    }
    char why[ELABEL_REPORT_PATH_MAX];
    std::snprintf(why, sizeof(why),
                  "the label it replaces holds damaged items and could not be kept (%s)",
                  std::strerror(errno));
    elabel_report.kept[0] = '\0';
    elabel_report.reset_rows = 0;  // nothing was stored in their place
    refuse(wb, why);
    return false;
}

bool store_record(elabel_writeback *wb)
{
    if (elabel_platform.record_dir == nullptr) {
        return false;
    }
    if (elabel_record_store(wb->image, wb->replaced, wb->restoring) == 0) {
        return true;
    }
    if (!wb->restoring) {
        char why[ELABEL_REPORT_PATH_MAX];
        std::snprintf(why, sizeof(why), "the pending-write record %s could not be stored (%s)",
                      elabel_record_path(), std::strerror(errno));
        elabel_report_why(why);
    }
    return false;
}

elabel_outcome restore_outcome(const elabel_writeback *wb)
{
    if (wb->failed == elabel_pass::not_started) {
        return elabel_outcome::restore_unrecorded;
    }
    if (wb->read_back && wb->region == elabel_region::written) {
        return elabel_outcome::restored;
    }
    if (!wb->read_back || wb->failed != elabel_pass::none) {
        return elabel_outcome::restore_failed;
    }
    // The passes went through: a part that still reads as before ignored the
    // writes and may take them later; one that changed otherwise will not.
    return wb->region == elabel_region::replaced ? elabel_outcome::restore_ignored
                                                 : elabel_outcome::restore_worn;
}

elabel_outcome own_outcome(const elabel_writeback *wb)
{
    const bool passed = wb->failed == elabel_pass::none;
    if (!wb->read_back) {
        return passed ? elabel_outcome::unchecked : elabel_outcome::broken_off;
    }
    switch (wb->region) {
    case elabel_region::written:
        return elabel_outcome::wrote;
    case elabel_region::replaced:
        return passed ? elabel_outcome::ignored : elabel_outcome::refused;
    case elabel_region::cut:
        return passed ? elabel_outcome::misread : elabel_outcome::broken_off;
    case elabel_region::other:
        break;
    }
    return passed ? elabel_outcome::worn : elabel_outcome::broken_off;
}

int32_t report_outcome(const elabel_writeback *wb, int32_t ret)
{
    if (wb->failed == elabel_pass::not_started) {
        return ELABEL_WRITEBACK_REFUSED;
    }
    if (ret == 0) {
        return ELABEL_WRITEBACK_WRITTEN;
    }
    switch (wb->outcome) {
    case elabel_outcome::ignored:
    case elabel_outcome::refused:
        return ELABEL_WRITEBACK_UNCHANGED;
    case elabel_outcome::unchecked:
        return ELABEL_WRITEBACK_UNCHECKED;
    default:
        return ELABEL_WRITEBACK_PARTIAL;
    }
}

} // namespace

bool elabel_read_region(uint8_t *label)
{
    for (int attempt = 0; attempt < READ_TRIES; ++attempt) {
        if (driver_flash_readElectronicLabel(label, ELABEL_DATA_LEN) == 0) {
            return true;
        }
    }
    return false;
}

int32_t elabel_writeback_begin(elabel_writeback *wb, const uint8_t *image)
{
    wb->image = image;
    wb->failed = elabel_pass::none;
    wb->recorded = false;
    wb->read_back = false;
    wb->region = elabel_region::other;
    if (!wb->restoring) {
        elabel_report_clear();
    }
    if (elabel_set_lock(&wb->fd, ELABEL_LOCK_TRIES) != 0) {
        if (!wb->restoring) {
            elabel_report.outcome = ELABEL_WRITEBACK_REFUSED;
            elabel_report_why("the label is locked by another run (bus busy)");
        }
        return -8;
    }
    elabel_hold_signals(&wb->signals);
    return 0;
}

void elabel_writeback_passes(elabel_writeback *wb)
{
    if (!wb->restoring && !(settle_earlier(wb) && know_replaced(wb) &&
                            (!wb->keep_repairs || keep_repaired(wb)))) {
        return;
    }
    wb->recorded = store_record(wb);
    if (wb->restoring && !wb->recorded) {
        wb->failed = elabel_pass::not_started;  // a restore cut without its record would be lost
        return;
    }
    if (!wb->restoring) {
        elabel_report.recorded = wb->recorded ? 1 : 0;
    }
    // The write takes a non-const buffer but does not change it.
    auto *image = const_cast<uint8_t *>(wb->image);
    if (driver_flash_eraseElectronicLabel() != 0) {
        wb->failed = elabel_pass::erase;
    } else if (!wb->erase_only && driver_flash_writElectronicLabel(image, ELABEL_DATA_LEN) != 0) {
        wb->failed = elabel_pass::write;
    }
}

int32_t elabel_writeback_end(elabel_writeback *wb)
{
    if (wb->failed != elabel_pass::not_started) {
        wb->read_back = elabel_read_region(wb->back);
        if (wb->read_back) {
            wb->region = elabel_judge(wb->back, wb->image, wb->replaced);
        }
    }
    const int32_t ret = wb->failed == elabel_pass::none && wb->read_back &&
                                wb->region == elabel_region::written
                            ? 0
                            : -1;
    if (wb->restoring) {
        wb->outcome = restore_outcome(wb);
        wb->fate = elabel_record_decide(wb->outcome, nullptr, nullptr);
    } else {
        wb->outcome = own_outcome(wb);
        wb->fate = wb->recorded ? elabel_record_decide(wb->outcome, nullptr, nullptr)
                                : elabel_fate::removed;
        elabel_report.outcome = report_outcome(wb, ret);
    }
    elabel_set_unlock(wb->fd);
    elabel_release_signals(&wb->signals);
    return ret;
}

int32_t elabel_writeback_run(elabel_writeback *wb, const uint8_t *image)
{
    if (elabel_writeback_begin(wb, image) != 0) {
        return -8;
    }
    elabel_writeback_passes(wb);
    return elabel_writeback_end(wb);
}

int32_t elabel_writeback_clear()
{
    // A write-back of zeros whose erase pass is its write pass.
    elabel_writeback wb{};
    wb.erase_only = true;
    if (elabel_writeback_begin(&wb, ZEROS) != 0) {
        ELABEL_ERR("driver_elabel bus busy.\n");
        return -8;
    }
    elabel_writeback_passes(&wb);
    return elabel_writeback_end(&wb);
}
