// set: items of the board's label changed in one write-back. It works on the
// label as stored, read raw under a lock held from the read to the end of the
// write-back; every item it does not name stays byte for byte, a damaged one
// included.
#include <cstring>

#include "elabel_image.h"
#include "elabel_lock.h"
#include "elabel_record.h"
#include "elabel_writeback.h"
#include "image_tool.h"

namespace {

// The items named, each sealed in its block of an otherwise zeroed label: the
// --json document's, then the command line's, which may override them.
int named_items(const image_options &opt, uint8_t *patch, uint32_t *rows)
{
    static image_file doc;
    uint32_t from_doc = 0;
    if (opt.json_in != nullptr &&
        (image_read(opt.json_in, &doc) != IMAGE_OK ||
         image_json_patch(doc.bytes, doc.size, opt.json_in, patch, &from_doc) != IMAGE_OK)) {
        return IMAGE_USAGE;
    }
    uint32_t from_args = 0;
    for (int i = 0; i < opt.nargs; ++i) {
        if (image_patch_item(patch, opt.args[i], &from_args, "set") != IMAGE_OK) {
            return IMAGE_USAGE;
        }
    }
    *rows = from_doc | from_args;
    if (*rows == 0) {
        image_error("set: no item named (ID=TEXT... or --json FILE)");
        return IMAGE_USAGE;
    }
    return IMAGE_OK;
}

elabel_writeback_report last_report()
{
    elabel_writeback_report report;
    elabel_writeback_report_get(&report);
    return report;
}

// The label as stored, read under the held lock once a pending write-back is
// settled, so the items are set on what that write-back left: IMAGE_OK, or
// IMAGE_DEVICE after a message.
int read_settled(uint8_t *label)
{
    bool pending = false;
    if (image_board_read(label, &pending) != IMAGE_OK) {
        return IMAGE_DEVICE;
    }
    if (!pending) {
        return IMAGE_OK;
    }
    if (elabel_recovery_pending(elabel_record_recover())) {
        const elabel_writeback_report report = last_report();
        image_error("set: nothing written: the pending-write record %s stays: %s", report.pending,
                    report.why);
        return IMAGE_DEVICE;
    }
    image_error("set: the unfinished write-back was settled first (the system log says how)");
    return image_board_read(label, &pending);
}

// Copies the named items' blocks into the label; names the damaged items it keeps.
void patch_label(uint8_t *label, const uint8_t *patch, uint32_t rows)
{
    for (int row = 0; row < ELABEL_ITEM_NUM; ++row) {
        const elabel_item_desc &item = elabel_item_table[row];
        if ((rows & 1u << row) != 0) {
            std::memcpy(label + item.offset, patch + item.offset, ELABEL_ITEM_HEAD_LEN + item.max_len);
        } else if (elabel_item_check(label, item) != elabel_item_state::ok) {
            image_error("set: item 0x%02x (%s) on the board is damaged (%s); kept as stored",
                        item.id, image_item_name(item), image_state_name(label, item));
        }
    }
}

// The item (or the magic) of the first byte where `back` differs from `wrote`.
const char *first_difference(const uint8_t *wrote, const uint8_t *back)
{
    size_t at = 0;
    while (at + 1 < ELABEL_DATA_LEN && wrote[at] == back[at]) {
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

// program's statuses for what the write-back did, after a message.
int failure_status(const elabel_writeback &wb, const uint8_t *label)
{
    const bool unchanged = wb.read_back && wb.region == elabel_region::replaced;
    if (wb.failed != elabel_pass::none) {
        image_error("set: writing %s failed: the transfer failed%s; the system log has the details",
                    ELABEL_I2C_DEV, unchanged ? ", the label is unchanged" : "");
        return IMAGE_DEVICE;
    }
    if (!wb.read_back) {
        image_error("set: reading back %s failed: the transfer failed; the system log has the "
                    "details", ELABEL_I2C_DEV);
        return IMAGE_DEVICE;
    }
    if (unchanged) {
        image_error("set: %s ignored the writes (write-protected?): the label is unchanged",
                    ELABEL_I2C_DEV);
        return IMAGE_DEVICE;
    }
    image_error("set: read back from %s differs from what was written (first in %s)",
                ELABEL_I2C_DEV, first_difference(label, wb.back));
    return IMAGE_MISMATCH;
}

// The store's write-back of the patched label, under the held lock.
int write_back(const uint8_t *label)
{
    static elabel_writeback wb;
    if (elabel_writeback_run(&wb, label) == 0) {
        return IMAGE_OK;
    }
    const elabel_writeback_report report = last_report();
    if (report.outcome == ELABEL_WRITEBACK_REFUSED) {
        image_error("set: nothing written: %s", report.why);
        return IMAGE_DEVICE;
    }
    const int status = failure_status(wb, label);
    if (report.pending[0] != '\0') {
        image_error("set: the pending-write record %s stays (%s): the next elabel command, "
                    "elabel-image program or 'elabel-image recover' finishes it",
                    report.pending, report.why);
    }
    return status;
}

} // namespace

int image_set_run(const image_options &opt)
{
    static uint8_t patch[ELABEL_DATA_LEN];
    static uint8_t label[ELABEL_DATA_LEN];
    uint32_t rows = 0;
    if (named_items(opt, patch, &rows) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    const elabel_lock_hold hold(true);  // one lock from the read to the end of the write-back
    const int status = read_settled(label);
    if (status != IMAGE_OK) {
        return status;
    }
    const uint32_t magic = elabel_get_le32(label);
    if (magic != ELABEL_MAGIC) {
        image_error("set: the board holds no label (magic 0x%08x is not 0x%08x): nothing written; "
                    "build one with 'elabel-image build' and write it with 'elabel-image program'",
                    magic, ELABEL_MAGIC);
        return IMAGE_INVALID;
    }
    patch_label(label, patch, rows);
    return write_back(label);
}
