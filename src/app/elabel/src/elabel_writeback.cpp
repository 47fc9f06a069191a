#include "elabel_writeback.h"

#include <cstdio>
#include <cstring>

#include "elabel_known.h"
#include "elabel_log.h"
#include "elabel_platform.h"
#include "elabel_record.h"

namespace {

constexpr int READ_TRIES = 3;
constexpr uint8_t ZEROS[ELABEL_DATA_LEN] = {};

// A record left by an earlier write-back is settled first: this one's record
// takes its place, which it must not do while the device may hold that one's
// cut state.
bool settle_pending()
{
    return !elabel_recovery_kept(elabel_record_recover());
}

bool know_replaced(elabel_writeback *wb)
{
    const uint8_t *known = elabel_known();
    if (known != nullptr) {
        std::memcpy(wb->replaced, known, ELABEL_DATA_LEN);
        return true;
    }
    return elabel_read_region(wb->replaced);
}

// "; record PATH removed" or kept, when this write-back stored one.
void record_clause(const elabel_writeback *wb, const char *fate, char *out, size_t size)
{
    out[0] = '\0';
    if (wb->recorded) {
        std::snprintf(out, size, "; record %s %s", elabel_record_path(), fate);
    }
}

// The record of a write-back that did not go through, from what was read back.
void settle_record(const elabel_writeback *wb)
{
    const bool passed = wb->failed == elabel_pass::none;
    char clause[ELABEL_RECORD_PATH_MAX + 32];
    if (!wb->read_back) {
        record_clause(wb, "kept", clause, sizeof(clause));
        if (passed) {
            ELABEL_ERR("label not read back after the write-back%s\n", clause);
        }
        return;
    }
    switch (wb->region) {
    case elabel_region::written:
        (void)elabel_record_remove();
        return;
    case elabel_region::replaced:
        (void)elabel_record_remove();
        record_clause(wb, "removed", clause, sizeof(clause));
        if (passed) {
            ELABEL_ERR("label read back unchanged: the device ignored the writes "
                       "(write-protected?)%s\n",
                       clause);
        } else {
            ELABEL_ERR("the device still holds the label it had%s\n", clause);
        }
        return;
    case elabel_region::cut:
    case elabel_region::other:
        record_clause(wb, "kept", clause, sizeof(clause));
        if (passed) {
            ELABEL_ERR("label read back differs from the one written%s\n", clause);
        }
        return;
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
    wb->read_back = false;
    wb->region = elabel_region::other;
    if (elabel_set_lock(&wb->fd, ELABEL_LOCK_TRIES) != 0) {
        return -8;
    }
    elabel_hold_signals(&wb->signals);
    return 0;
}

void elabel_writeback_passes(elabel_writeback *wb)
{
    if (!wb->restoring) {
        if (!settle_pending()) {
            ELABEL_ERR("label not written: an unfinished write-back is pending (record %s "
                       "kept)\n",
                       elabel_record_path());
            wb->failed = elabel_pass::not_started;
            return;
        }
        if (!know_replaced(wb)) {
            ELABEL_ERR("label not written: the label it would replace could not be read\n");
            wb->failed = elabel_pass::not_started;
            return;
        }
    }
    wb->recorded = elabel_platform.record_dir != nullptr &&
                   elabel_record_store(wb->image, wb->replaced, wb->restoring) == 0;
    if (wb->restoring && !wb->recorded) {
        wb->failed = elabel_pass::not_started;  // a restore cut without its record would be lost
        return;
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
    int32_t ret = -1;
    if (wb->failed != elabel_pass::not_started) {
        wb->read_back = elabel_read_region(wb->back);
        if (wb->read_back) {
            wb->region = elabel_judge(wb->back, wb->image, wb->replaced);
        }
        if (wb->failed == elabel_pass::none && wb->read_back &&
            wb->region == elabel_region::written) {
            ret = 0;
        }
        if (!wb->restoring) {
            settle_record(wb);
        }
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
