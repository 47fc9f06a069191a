// show and check: decode label files without changing anything.
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

// One file of several: one line when it is bad.
int check_one(const char *path, long offset)
{
    static image_file file;
    if (image_load(path, offset, &file) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    char first[160];
    const size_t count = image_first_problem(file.bytes + file.label_at, first, sizeof(first));
    if (count == 0) {
        return IMAGE_OK;
    }
    if (count == 1) {
        image_error("%s: %s", image_file_name(path), first);
    } else {
        image_error("%s: %s (and %zu more %s)", image_file_name(path), first, count - 1,
                    count == 2 ? "problem" : "problems");
    }
    return IMAGE_INVALID;
}

} // namespace

int image_show_run(const image_options &opt)
{
    static image_file file;
    if (image_load(opt.args[0], opt.offset, &file) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    const uint8_t *label = file.bytes + file.label_at;
    if (opt.item != nullptr) {
        return show_item(opt, label);
    }
    if (opt.json) {
        image_show_json(stdout, label, file.label_at);
    } else {
        image_show_text(stdout, label);
    }
    return image_flush_stdout();
}

int image_check_run(const image_options &opt)
{
    static image_file file;
    if (opt.nargs == 1) {
        if (image_load(opt.args[0], opt.offset, &file) != IMAGE_OK) {
            return IMAGE_USAGE;
        }
        return image_problems(file.bytes + file.label_at, opt.args[0], true) == 0 ? IMAGE_OK
                                                                                   : IMAGE_INVALID;
    }
    int worst = IMAGE_OK;
    for (int i = 0; i < opt.nargs; ++i) {
        const int status = check_one(opt.args[i], opt.offset);
        worst = status > worst ? status : worst;
    }
    return worst;
}
