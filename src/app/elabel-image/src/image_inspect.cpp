// show and check: decode labels without changing anything.
#include <cstring>

#include "elabel_image.h"
#include "image_tool.h"

namespace {

// show --item ID [--raw]: one item's line, or its stored bytes alone.
int show_item(const image_options &opt, const uint8_t *label)
{
    const elabel_item_desc *item = image_find_item(opt.item, std::strlen(opt.item));
    if (item == nullptr) {
        image_error("show: '%s' names no item (a hexadecimal id such as 30 or 0x30, or a name)",
                    opt.item);
        return IMAGE_USAGE;
    }
    if (!opt.raw) {
        image_show_item(stdout, label, *item);
        return image_flush_stdout();
    }
    if (elabel_item_check(label, *item) != elabel_item_state::ok) {
        image_error("%s: item 0x%02x (%s): %s; its bytes are not printed",
                    image_file_name(opt.args[0]), item->id, image_item_name(*item),
                    image_state_name(label, *item));
        return IMAGE_INVALID;
    }
    std::fwrite(elabel_item_field(label, *item), 1, image_shown_len(label, *item), stdout);
    return image_flush_stdout();
}

int show_label(const image_options &opt, const image_file &file)
{
    const uint8_t *label = file.bytes + file.label_at;
    if (opt.item != nullptr) {
        return show_item(opt, label);
    }
    if (opt.json) {
        // The board's label is where the board keeps it.
        const bool board = image_is_board(opt.args[0]);
        elabel_json_write(stdout, label, board ? ELABEL_FLASH_OFFSET : file.label_at,
                          opt.template_form ? image_is_per_board : nullptr);
    } else {
        image_show_text(stdout, label);
    }
    return image_flush_stdout();
}

// A record is shown whole: its two labels, each named.
int show_record(const image_options &opt, const image_file &file)
{
    if (opt.json || opt.item != nullptr || opt.offset >= 0) {
        image_error("%s: a pending-write record: show takes it without --json, --item or "
                    "--offset; 'elabel-image extract' writes either of its labels as a label file",
                    image_file_name(opt.args[0]));
        return IMAGE_USAGE;
    }
    return image_show_record(opt.args[0], file);
}

// One operand of check: with `detailed` one line per problem, else the first
// problem and how many more.
int check_operand(const char *operand, long offset, bool detailed)
{
    static image_file file;
    bool pending = false;
    const int loaded = image_load_label(operand, offset, &file, &pending);
    if (loaded != IMAGE_OK) {
        return loaded;
    }
    const uint8_t *label = file.bytes + file.label_at;
    char first[160];
    const size_t count = detailed ? image_problems(label, operand, true)
                                  : image_first_problem(label, first, sizeof(first));
    if (count == 1 && !detailed) {
        image_error("%s: %s", image_file_name(operand), first);
    } else if (count > 1 && !detailed) {
        image_error("%s: %s (and %zu more %s)", image_file_name(operand), first, count - 1,
                    count == 2 ? "problem" : "problems");
    }
    const int status = count == 0 ? IMAGE_OK : IMAGE_INVALID;
    return pending ? image_worse(status, IMAGE_PENDING) : status;
}

} // namespace

int image_show_run(const image_options &opt)
{
    static image_file file;
    const char *operand = opt.args[0];
    bool pending = false;
    const bool board = image_is_board(operand);
    int ret = board ? image_load_label(operand, opt.offset, &file, &pending)
                    : image_read(operand, &file);
    if (ret == IMAGE_OK && !board) {
        if (image_is_record(file)) {
            return show_record(opt, file);
        }
        ret = image_place(operand, opt.offset, &file);
    }
    if (ret != IMAGE_OK) {
        return ret;
    }
    const int shown = show_label(opt, file);
    return pending ? image_worse(shown, IMAGE_PENDING) : shown;
}

int image_check_run(const image_options &opt)
{
    int worst = IMAGE_OK;
    for (int i = 0; i < opt.nargs; ++i) {
        worst = image_worse(worst, check_operand(opt.args[i], opt.offset, opt.nargs == 1));
    }
    return worst;
}
