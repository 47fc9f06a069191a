// show and check: decode a label file without changing anything.
#include "image_tool.h"

namespace {

// Fails when standard output could not take the listing (a full disk, a closed pipe).
int flush_output()
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        image_error("standard output: write error");
        return IMAGE_USAGE;
    }
    return IMAGE_OK;
}

} // namespace

int image_show_run(const image_options &opt)
{
    static image_file file;
    if (image_load(opt.args[0], opt.offset, &file) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    const uint8_t *label = file.bytes + file.label_at;
    if (opt.json) {
        image_show_json(stdout, label, file.label_at);
    } else {
        image_show_text(stdout, label);
    }
    return flush_output();
}

int image_check_run(const image_options &opt)
{
    static image_file file;
    if (image_load(opt.args[0], opt.offset, &file) != IMAGE_OK) {
        return IMAGE_USAGE;
    }
    return image_problems(file.bytes + file.label_at, opt.args[0], true) == 0 ? IMAGE_OK
                                                                               : IMAGE_INVALID;
}
