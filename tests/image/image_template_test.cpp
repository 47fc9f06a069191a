// Product templates: show --json --template leaves out each board's own items,
// and build --require refuses a board whose own items are not all given.
#include "image_fixture.h"

#include <fstream>

namespace {

const items product = {{0x10, "1U"}, {0x11, "CH-100"}, {0x30, "ACME"}, {0x31, "Router"}};
const items per_board = {{0x12, "CS1"}, {0x20, "2026-12-08"}, {0x23, "BS1"},
                         {0x34, "PS1"}, {0x35, "AT1"},        {0x63, "SS1"}};

TEST_F(ImageTest, TemplateLeavesOutEachBoardsItemsAndBuildRequiresThem)
{
    items first = product;
    first.insert(first.end(), per_board.begin(), per_board.end());
    put_file("first.bin", make_label(first));

    const auto lines = json_lines("first.bin", true);
    ASSERT_EQ(21u, lines.size());
    EXPECT_EQ("elabel-label 1 0 1162625346 True True 20 template", lines[0]);
    for (const auto &[id, text] : per_board) {
        char head[4];
        std::snprintf(head, sizeof(head), "%02x ", id);
        for (const auto &line : lines) {
            EXPECT_NE(0u, line.rfind(head, 0)) << line;
        }
    }
    std::ofstream(path("t.json"), std::ios::binary) << image({"show", "--json", "--template", path("first.bin")}).out;
    std::ofstream(path("full.json"), std::ios::binary) << image({"show", "--json", path("first.bin")}).out;

    items next = product;
    next.insert(next.end(), {{0x12, "CS2"}, {0x23, "BS2"}});
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"--json", path("t.json"), "--require", "12,bd_serial_num", "12=CS2", "23=BS2"}, 0, ""},
        {{"--json", path("t.json"), "--require", "12,23", "12=CS2"}, 2,
         "build: item 0x23 (bd_serial_num) is required (--require) but not given as ID=TEXT\n"
         "elabel-image: build: " + path("out.bin") + " not written: 1 required item missing\n"},
        {{"--json", path("t.json"), "--require", "12,23", "12=CS2", "23="}, 2,
         "item 0x23 (bd_serial_num) is required (--require) but given empty"},
        // The document's own value does not count: each board gives its own.
        {{"--json", path("full.json"), "--require", "12", "23=BS2"}, 2,
         "item 0x12 (chassis_serial_num) is required (--require) but not given as ID=TEXT"},
        {{"--json", path("t.json"), "--require", "12,,23", "12=CS2", "23=BS2"}, 2,
         "build: --require: '' names no item"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[3]);
        std::vector<std::string> args = {"build", "-o", path("out.bin")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const image_run r = image(args);
        EXPECT_EQ(c.status, r.status);
        EXPECT_NE(std::string::npos, r.err.find(c.err)) << r.err;
        if (c.status == 0) {
            EXPECT_EQ(make_label(next), file("out.bin"));
        } else {
            EXPECT_EQ(std::vector<std::string>({"first.bin", "full.json", "t.json"}), dir_entries());
        }
        std::remove(path("out.bin").c_str());
    }
    EXPECT_EQ(2, image({"show", "--template", path("first.bin")}).status);
}

} // namespace
