// Runs the production elabel-image on files in the test's directory and on the
// simulated EEPROM, with its standard error captured as well.
#ifndef IMAGE_FIXTURE_H
#define IMAGE_FIXTURE_H

#include "harness.h"

struct image_run {
    std::string out;
    std::string err;
    int status = -1;
    std::vector<logged> log;
};

class ImageTest : public E2eTest {
protected:
    image_run image(const std::vector<std::string> &args,
                    const std::map<std::string, std::string> &env = {});
    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    void put_file(const std::string &name, const std::vector<uint8_t> &bytes) const;
    std::vector<uint8_t> file(const std::string &name) const;
    // The directory's files, but the logs; hidden ones (the temporary files) too on request.
    std::vector<std::string> dir_entries(bool hidden = false) const;
    // show --json (--template) read back by Python's json module, as lines (json_items.py).
    std::vector<std::string> json_lines(const std::string &name, bool template_form = false);
};

using items = std::vector<std::pair<uint8_t, std::string>>;

// Standard output with the time of a result line ("(0.95 s)") made "(T s)".
std::string untimed(const std::string &out);

// Sets a little-endian 16-bit field of a label.
void put_le16(std::vector<uint8_t> *label, size_t at, uint16_t value);

#endif
