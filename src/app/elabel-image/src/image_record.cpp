// Pending-write records, for service: a record set aside (or still pending)
// holds the label its write-back writes and the label it replaced; show names
// both and extract writes either as a bare label file.
#include "elabel_record.h"
#include "image_tool.h"

namespace {

// The record's labels, or IMAGE_INVALID after a message for a damaged record.
int decode(const char *path, const image_file &file, elabel_record *record,
           elabel_record_state *state_out)
{
    const char *why = nullptr;
    const elabel_record_state state = elabel_record_decode(file.bytes, file.size, record, &why);
    *state_out = state;
    if (state != elabel_record_state::intact && state != elabel_record_state::earlier &&
        state != elabel_record_state::image_only) {
        image_error("%s: a pending-write record (%.*s), damaged: %s", image_file_name(path),
                    static_cast<int>(ELABEL_RECORD_TAG_LEN), elabel_record_tag(file.bytes, file.size),
                    why);
        return IMAGE_INVALID;
    }
    return IMAGE_OK;
}

// What the replaced label is, as show and extract name it.
const char *replaced_is(const elabel_record &record)
{
    return record.restore ? "the state a cut write-back left, which this one finishes; not a "
                            "label to program"
                          : "the label the board held before";
}

} // namespace

bool image_is_record(const image_file &file)
{
    return elabel_record_tag(file.bytes, file.size) != nullptr;
}

int image_show_record(const char *path, const image_file &file)
{
    static elabel_record record;
    elabel_record_state state = elabel_record_state::none;
    if (decode(path, file, &record, &state) != IMAGE_OK) {
        return IMAGE_INVALID;
    }
    std::printf("pending-write record, format %.*s\n\nwritten: the label its write-back writes\n",
                static_cast<int>(ELABEL_RECORD_TAG_LEN), elabel_record_tag(file.bytes, file.size));
    image_show_text(stdout, record.image);
    if (!record.has_replaced) {
        std::puts(state == elabel_record_state::earlier
                      ? "\nreplaced: not kept by this earlier format"
                      : "\nreplaced: damaged in the record (its checksum does not match)");
    } else {
        std::printf("\nreplaced: %s\n", replaced_is(record));
        image_show_text(stdout, record.replaced);
    }
    return image_flush_stdout();
}

int image_extract_run(const image_options &opt)
{
    static image_file file;
    static elabel_record record;
    const char *path = opt.args[0];
    if (image_read(path, &file) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    if (!image_is_record(file)) {
        image_error("%s: not a pending-write record (no record format tag)", image_file_name(path));
        return IMAGE_USAGE;
    }
    elabel_record_state state = elabel_record_state::none;
    if (decode(path, file, &record, &state) != IMAGE_OK) {
        return IMAGE_INVALID;
    }
    if (opt.replaced && !record.has_replaced) {
        image_error("%s: %s", image_file_name(path),
                    state == elabel_record_state::earlier
                        ? "a record of an earlier format, which keeps no replaced label"
                        : "the replaced label is damaged in this record");
        return IMAGE_USAGE;
    }
    if (opt.replaced && record.restore) {
        image_error("%s: note: the replaced label is %s", image_file_name(path),
                    replaced_is(record));
    }
    return image_write_output(opt.output, opt.replaced ? record.replaced : record.image,
                              ELABEL_DATA_LEN);
}
