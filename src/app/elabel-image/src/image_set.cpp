// set: items of the board's label changed in one write-back. It works on the
// label as stored, read raw under a lock held from the read to the end of the
// write-back; every item it does not name stays byte for byte, a damaged one
// included.
#include <cstring>

#include "elabel_image.h"
#include "elabel_lock.h"
#include "elabel_record.h"
#include "elabel_retry.h"
#include "elabel_signals.h"
#include "elabel_writeback.h"
#include "image_tool.h"

namespace {

constexpr int BUSY_TRIES = 3;

// The items named, each sealed in its block of an otherwise zeroed label.
uint8_t patch[ELABEL_DATA_LEN];
uint32_t named_rows = 0;
// The label as read, then as written; what its write-back did; the exit status.
uint8_t label[ELABEL_DATA_LEN];
elabel_writeback wb;
int status = IMAGE_OK;
elabel_held_signals set_signals;  // from taking the lock until set has reported

// The items named and their texts (image_set_items.cpp).
int name_items(const image_options &opt)
{
    return image_set_items(opt, patch, &named_rows);
}

elabel_writeback_report last_report()
{
    elabel_writeback_report report;
    elabel_writeback_report_get(&report);
    return report;
}

// A pending write-back is settled first, so that the items are set on what it
// left; then the label is read as stored. IMAGE_OK, or the status after a message.
int read_settled()
{
    const elabel_recovery found = elabel_record_recover();
    if (elabel_recovery_pending(found)) {
        const elabel_writeback_report report = last_report();
        image_error("set: nothing written: the pending-write record %s stays: %s", report.pending,
                    report.why);
        return IMAGE_DEVICE;
    }
    if (found != elabel_recovery::none) {
        image_error("set: an unfinished write-back was settled first (the system log says how)");
    }
    if (!elabel_read_region(label)) {
        image_error("set: reading %s failed: the transfer failed; the system log has the details",
                    ELABEL_I2C_DEV);
        return IMAGE_DEVICE;
    }
    const uint32_t magic = elabel_get_le32(label);
    if (magic != ELABEL_MAGIC) {
        image_error("set: the board holds no label (magic 0x%08x is not 0x%08x): nothing written; "
                    "build one with 'elabel-image build' and write it with 'elabel-image program'",
                    magic, ELABEL_MAGIC);
        return IMAGE_INVALID;
    }
    return IMAGE_OK;
}

// Copies the named items' blocks into the label; names the damaged items it keeps.
void patch_label()
{
    for (int row = 0; row < ELABEL_ITEM_NUM; ++row) {
        const elabel_item_desc &item = elabel_item_table[row];
        if ((named_rows & 1u << row) != 0) {
            std::memcpy(label + item.offset, patch + item.offset, ELABEL_ITEM_HEAD_LEN + item.max_len);
        } else if (elabel_item_check(label, item) != elabel_item_state::ok) {
            image_error("set: item 0x%02x (%s) on the board is damaged (%s); kept as stored",
                        item.id, image_item_name(item), image_state_name(label, item));
        }
    }
}

// The item (or the magic) of the first byte read back other than written.
const char *first_difference()
{
    size_t at = 0;
    while (at + 1 < ELABEL_DATA_LEN && label[at] == wb.back[at]) {
        ++at;
    }
    const char *where = "magic";
    for (const elabel_item_desc &item : elabel_item_table) {
        if (at >= item.offset) {
            where = image_item_name(item);
        }
    }
    return where;
}

// program's statuses for a write-back that did not leave the label written.
int failure_status()
{
    const bool unchanged = wb.read_back && wb.region == elabel_region::replaced;
    if (wb.failed != elabel_pass::none) {
        image_error("set: writing %s failed: the transfer failed%s; the system log has the details",
                    ELABEL_I2C_DEV, unchanged ? ", the label is unchanged" : "");
        return IMAGE_DEVICE;
    }
    if (!wb.read_back) {
        image_error("set: reading back %s failed: the transfer failed; the system log has the "
                    "details",
                    ELABEL_I2C_DEV);
        return IMAGE_DEVICE;
    }
    if (unchanged) {
        image_error("set: %s ignored the writes (write-protected?): the label is unchanged",
                    ELABEL_I2C_DEV);
        return IMAGE_DEVICE;
    }
    image_error("set: read back from %s differs from what was written (first in %s)",
                ELABEL_I2C_DEV, first_difference());
    return IMAGE_MISMATCH;
}

// The store's write-back of the patched label, under the lock set holds.
int write_back()
{
    const int32_t ret = elabel_writeback_run(&wb, label);
    const elabel_writeback_report report = last_report();
    if (report.outcome == ELABEL_WRITEBACK_REFUSED) {
        image_error("set: nothing written: %s", report.why);
        return IMAGE_DEVICE;
    }
    if (report.recorded == 0 && report.why[0] != '\0') {
        image_error("set: written without a pending-write record (%s): a cut during the "
                    "write-back would have lost items",
                    report.why);
    }
    if (ret == 0) {
        return IMAGE_OK;
    }
    const int failed = failure_status();
    if (report.pending[0] != '\0') {
        image_error("set: the pending-write record %s stays (%s): the next elabel command, "
                    "elabel-image program or 'elabel-image recover' finishes it",
                    report.pending, report.why);
    }
    return failed;
}

// Settles, reads, patches and writes back under one lock: 0, or -8 when the
// lock was not obtained. `status` says how it went.
int32_t set_locked()
{
    int32_t fd = -1;
    if (elabel_set_lock(&fd, ELABEL_LOCK_TRIES) != 0) {
        return -8;
    }
    elabel_hold_signals(&set_signals);
    status = read_settled();
    if (status == IMAGE_OK) {
        patch_label();
        status = write_back();
    }
    elabel_set_unlock(fd);
    return 0;
}

int no_lock()
{
    const int err = elabel_lock_open_error();
    if (err != 0) {
        image_error("set: cannot open the lock file %s: %s", ELABEL_LOCK_FILE, std::strerror(err));
    } else {
        image_error("set: the label on %s is locked by another run (bus busy)", ELABEL_I2C_DEV);
    }
    return IMAGE_DEVICE;
}

} // namespace

int image_set_run(const image_options &opt)
{
    if (opt.dry_run) {
        return image_set_dry_run(opt);
    }
    if (name_items(opt) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    if (elabel_retry_while_busy(set_locked, BUSY_TRIES) != 0) {
        return no_lock();
    }
    // A termination signal held since the lock was taken acts once the outcome is out.
    if (elabel_held_signal_pending()) {
        image_error("set: %sa signal that came meanwhile ends the run now",
                    status == IMAGE_OK ? "written and read back; " : "");
    }
    elabel_release_signals(&set_signals);
    return status;
}
