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
elabel_result res;
int status = IMAGE_OK;
elabel_held_signals set_signals;  // from taking the lock until set has reported

// The items named and their texts (image_set_items.cpp).
int name_items(const image_options &opt)
{
    return image_set_items(opt, patch, &named_rows);
}

// A pending write-back is settled first, so that the items are set on what it
// left; then the label is read as stored. IMAGE_OK, or the status after a message.
int read_settled()
{
    res = elabel_result{};
    if (!elabel_settle_first(&res)) {
        image_error("set: nothing written: %s", res.why);
        return IMAGE_DEVICE;
    }
    if (res.outcome != ELABEL_WRITEBACK_NONE) {
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

// The store's write-back of the patched label, under the lock set holds.
int write_back()
{
    const double began = image_seconds();
    (void)elabel_write_label(label, elabel_write_kind::whole, &res);
    return image_tell_write(image_write{false, nullptr, label, image_seconds() - began}, res);
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
    } else {
        image_result_line(false, "not written", 0);
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
        image_result_line(false, "not written", 0);
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
