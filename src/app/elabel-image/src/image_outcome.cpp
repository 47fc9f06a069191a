// What program and set say of a write-back's outcome, and their exit status:
// one table.
#include <time.h>

#include <cstdio>

#include "elabel_image.h"
#include "elabel_writeback.h"
#include "image_tool.h"

namespace {

enum class said { nothing, refused, writing, reading_back, ignored, differs };

struct outcome_row {
    int32_t outcome;
    int status;
    said line;
    const char *result;  // the result line's: what the board holds now
};

constexpr const char *PENDING = "pending: the next run finishes it";
constexpr outcome_row ROWS[] = {
    {ELABEL_WRITEBACK_WRITTEN, IMAGE_OK, said::nothing, "written and read back"},
    {ELABEL_WRITEBACK_REFUSED, IMAGE_DEVICE, said::refused, "not written"},
    {ELABEL_WRITEBACK_UNCHANGED, IMAGE_DEVICE, said::ignored, "unchanged"},
    {ELABEL_WRITEBACK_FAILED, IMAGE_DEVICE, said::writing, "unchanged"},
    {ELABEL_WRITEBACK_PARTIAL, IMAGE_DEVICE, said::writing, PENDING},
    {ELABEL_WRITEBACK_UNCHECKED, IMAGE_DEVICE, said::reading_back, PENDING},
    {ELABEL_WRITEBACK_MISREAD, IMAGE_MISMATCH, said::differs, PENDING},
    {ELABEL_WRITEBACK_WORN, IMAGE_MISMATCH, said::differs, "written, read back otherwise"},
};
// An outcome without a row is no success.
constexpr outcome_row UNLISTED = {ELABEL_WRITEBACK_NONE, IMAGE_DEVICE, said::writing, PENDING};

const outcome_row &row_for(int32_t outcome)
{
    for (const outcome_row &row : ROWS) {
        if (row.outcome == outcome) {
            return row;
        }
    }
    return UNLISTED;
}

// The first byte read back other than written.
size_t first_difference(const uint8_t *wrote, const uint8_t *read)
{
    size_t at = 0;
    while (at + 1 < ELABEL_DATA_LEN && wrote[at] == read[at]) {
        ++at;
    }
    return at;
}

const char *item_at(size_t at)
{
    const char *where = "magic";
    for (const elabel_item_desc &item : elabel_item_table) {
        if (at >= item.offset) {
            where = image_item_name(item);
        }
    }
    return where;
}

void say_program(said line, const image_write &w, const elabel_result &res)
{
    const char *file = image_file_name(w.path);
    switch (line) {
    case said::nothing:
        return;
    case said::refused:
        image_error("%s: not programmed: %s", file, res.why);
        return;
    case said::writing:
    case said::reading_back:
        image_error("%s %s failed: the transfer failed%s; the system log has the details",
                    line == said::writing ? "writing" : "reading back", ELABEL_I2C_DEV,
                    res.outcome == ELABEL_WRITEBACK_FAILED ? ", the label is unchanged" : "");
        return;
    case said::ignored:
        image_error("%s: not programmed: %s took the writes, but the label reads back as it "
                    "was: the part ignored the writes (write protection?)",
                    file, ELABEL_I2C_DEV);
        return;
    case said::differs: {
        const size_t at = first_difference(w.wrote, res.back);
        image_error("%s: read back from %s differs at label byte %zu (%s): wrote 0x%02x, read "
                    "0x%02x",
                    file, ELABEL_I2C_DEV, at, item_at(at), w.wrote[at], res.back[at]);
        return;
    }
    }
}

void say_set(said line, const image_write &w, const elabel_result &res)
{
    switch (line) {
    case said::nothing:
        return;
    case said::refused:
        image_error("set: nothing written: %s", res.why);
        return;
    case said::writing:
        image_error("set: writing %s failed: the transfer failed%s; the system log has the details",
                    ELABEL_I2C_DEV,
                    res.outcome == ELABEL_WRITEBACK_FAILED ? ", the label is unchanged" : "");
        return;
    case said::reading_back:
        image_error("set: reading back %s failed: the transfer failed; the system log has the "
                    "details",
                    ELABEL_I2C_DEV);
        return;
    case said::ignored:
        image_error("set: %s ignored the writes (write-protected?): the label is unchanged",
                    ELABEL_I2C_DEV);
        return;
    case said::differs:
        image_error("set: read back from %s differs from what was written (first in %s)",
                    ELABEL_I2C_DEV, item_at(first_difference(w.wrote, res.back)));
        return;
    }
}

} // namespace

int image_tell_write(const image_write &w, const elabel_result &res)
{
    const outcome_row &row = row_for(res.outcome);
    const char *who = w.program ? image_file_name(w.path) : "set";
    if (res.outcome != ELABEL_WRITEBACK_REFUSED && !res.recorded && res.why[0] != '\0') {
        image_error("%s: written without a pending-write record (%s): a cut during the "
                    "write-back would have lost items",
                    who, res.why);
    }
    if (w.program) {
        say_program(row.line, w, res);
    } else {
        say_set(row.line, w, res);
    }
    const bool stays = row.status != IMAGE_OK && row.line != said::refused && res.pending[0] != '\0';
    if (stays) {
        image_error("%s: the pending-write record %s stays (%s): the next elabel command, "
                    "elabel-image program or 'elabel-image recover' finishes it",
                    who, res.pending, res.why);
    }
    image_result_line(w.program, stays ? PENDING : row.result, w.seconds);
    return row.status;
}

void image_result_line(bool program, const char *result, double seconds)
{
    std::printf("%s: %s (%.2f s)\n", program ? "program" : "set", result, seconds);
    // Out before a termination signal held meanwhile ends the run.
    (void)std::fflush(stdout);
}

double image_seconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}
