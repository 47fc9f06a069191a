// build, check and show on files: round trips, every kind of damage, JSON, errors.
#include "image_fixture.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

namespace {


std::string hex(const std::string &bytes)
{
    std::string out;
    char two[3];
    for (unsigned char c : bytes) {
        std::snprintf(two, sizeof(two), "%02x", c);
        out += two;
    }
    return out.empty() ? "-" : out;
}

// Texts at the edges: the shortest item, board and chassis items, the longest
// texts that fit, UTF-8, a byte that is not, and quote and backslash.
const items texts = {
    {0x10, "ABC"},
    {0x12, "SN-0001"},
    {0x25, "board file"},
    {0x30, "\xe9\"\\ M\xc3\xbcller"},
    {0x31, "\xe2\x82\xac \xf0\x9f\x93\xa6"},
    {0x64, std::string(495, 'd')},
    {0x50, std::string(267, 'x')},
};

std::vector<std::string> build_args(const std::string &out, const items &list)
{
    std::vector<std::string> args = {"build", "-o", out};
    char id[8];
    for (const auto &[item, text] : list) {
        std::snprintf(id, sizeof(id), "%x=", item);  // 0x, none, or the name: all are taken
        const std::string named = item == 0x25 ? "bd_file_id=" : id;
        args.push_back((item == 0x10 ? "0X" : "") + named + text);
    }
    return args;
}

TEST_F(ImageTest, BuildWritesTheLabelThatChecksAndShowsFaithfully)
{
    const image_run built = image(build_args(path("a.bin"), texts));
    ASSERT_EQ(0, built.status) << built.err;
    EXPECT_EQ("", built.out + built.err);
    EXPECT_EQ(make_label(texts), file("a.bin"));

    const image_run check = image({"check", path("a.bin")});
    EXPECT_EQ(0, check.status);
    EXPECT_EQ("", check.out + check.err);

    const image_run show = image({"show", path("a.bin")});
    EXPECT_EQ(0, show.status);
    EXPECT_NE(std::string::npos, show.out.find("magic 0x454c4142 ok\n"));
    EXPECT_NE(std::string::npos,
              show.out.find("0x30  prd_manufacture     ok                          11  "
                            "\"\\xe9\\\"\\\\ M\\xc3\\xbcller\"\n"));
    EXPECT_NE(std::string::npos, show.out.find("0x12  chassis_serial_num  ok                           7  \"SN-0001\"\n"));
    for (char c : show.out) {
        ASSERT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << "raw byte " << int(c);
    }

    const auto lines = json_lines("a.bin");
    ASSERT_EQ(27u, lines.size());
    EXPECT_EQ("elabel-label 1 0 1162625346 True True 26", lines[0]);
    const auto label = make_label(texts);
    for (const auto &[id, text] : texts) {
        char head[8];
        std::snprintf(head, sizeof(head), "%02x ", id);
        const uint16_t crc = xmodem_crc(reinterpret_cast<const uint8_t *>(text.data()), text.size());
        bool found = false;
        for (const auto &line : lines) {
            if (line.rfind(head, 0) == 0) {
                found = true;
                EXPECT_NE(std::string::npos,
                          line.find(" ok " + std::to_string(item_capacity(id)) + " " +
                                    std::to_string(text.size()) + " " + std::to_string(crc) + " " +
                                    hex(text)))
                    << line;
            }
        }
        EXPECT_TRUE(found) << head;
    }
}

TEST_F(ImageTest, BuildPatchesAnEepromImageAndKeepsItsOtherBytes)
{
    std::vector<uint8_t> dump(SIM_SIZE);
    for (size_t i = 0; i < dump.size(); ++i) {
        dump[i] = static_cast<uint8_t>(i * 7);
    }
    const auto old_label = make_label({{0x31, "kept"}, {0x30, "old"}});
    std::copy(old_label.begin(), old_label.end(), dump.begin() + LABEL_AT);
    put_file("dump.bin", dump);

    ASSERT_EQ(0, image({"build", "-o", path("new.bin"), "--from", path("dump.bin"), "30=new"}).status);
    auto expected = dump;
    const auto new_label = make_label({{0x31, "kept"}, {0x30, "new"}});
    std::copy(new_label.begin(), new_label.end(), expected.begin() + LABEL_AT);
    EXPECT_EQ(expected, file("new.bin"));

    // A bare label made into a whole-EEPROM image: 0xFF around it.
    ASSERT_EQ(0, image({"build", "-o", path("bare.bin"), "30=new"}).status);
    ASSERT_EQ(0, image({"build", "-o", path("whole.bin"), "--from", path("bare.bin"),
                        "--eeprom-size", "0x1000", "31=kept"}).status);
    std::vector<uint8_t> whole(4096, 0xFF);
    std::copy(new_label.begin(), new_label.end(), whole.begin() + LABEL_AT);
    EXPECT_EQ(whole, file("whole.bin"));
    EXPECT_EQ(0, image({"check", path("whole.bin")}).status);
    EXPECT_EQ(0, image({"check", "--offset", "512", path("whole.bin")}).status);

    // --offset places the label in a new image, and finds it there, 0 included.
    for (const char *at : {"0", "0x100"}) {
        SCOPED_TRACE(at);
        ASSERT_EQ(0, image({"build", "-o", path("at.bin"), "--eeprom-size", "4096", "--offset", at,
                            "30=new"}).status);
        const size_t offset = std::strtoul(at, nullptr, 0);
        std::vector<uint8_t> placed(4096, 0xFF);
        const auto label = make_label({{0x30, "new"}});
        std::copy(label.begin(), label.end(), placed.begin() + offset);
        EXPECT_EQ(placed, file("at.bin"));
        EXPECT_EQ(0, image({"check", "--offset", at, path("at.bin")}).status);
        EXPECT_EQ(1, image({"check", path("at.bin")}).status);
    }
}

struct damage {
    const char *what;
    void (*apply)(std::vector<uint8_t> *label);
    const char *problem;  // on standard error from check
    const char *listing;  // in show's listing
    const char *json;     // the item's line from the JSON, or the header line
};

const damage damages[] = {
    // A text in the field: the checksum of its 68 bytes differs from one over 69.
    {"length beyond capacity",
     [](std::vector<uint8_t> *l) { put_le16(l, 12 + 2, 69), (*l)[16] = 'A'; },
     "item 0x11 (chassis_part_num): length 69 beyond capacity 68",
     "0x11  chassis_part_num    length-beyond-capacity      69  \"A\\x00\\x00",
     "11 chassis_part_num length-beyond-capacity 68 69 0 41000000"},
    {"checksum mismatch", [](std::vector<uint8_t> *l) { (*l)[1380 + 4 + 3] = 'X'; },
     "item 0x64 (sys_description): checksum 0x",
     "0x64  sys_description     checksum-mismatch            5  \"desXr\"",
     "64 sys_description checksum-mismatch 496 5 "},
    {"wrong magic", [](std::vector<uint8_t> *l) { (*l)[3] = 0; },
     "magic 0x004c4142 is not 0x454c4142", "magic 0x004c4142 wrong\n",
     "elabel-label 1 0 4997442 False False 26"},
    // An erased chip is one problem, not one for the magic and each item.
    {"blank", [](std::vector<uint8_t> *l) { std::fill(l->begin(), l->end(), 0xFF); },
     "no label: all 2360 bytes are 0xff (a blank chip)", "magic 0xffffffff wrong\n",
     "30 prd_manufacture length-beyond-capacity 68 65535 65535 ffffffff"},
};

TEST_F(ImageTest, EveryKindOfDamageIsFoundByCheckAndShownByShow)
{
    for (const auto &d : damages) {
        SCOPED_TRACE(d.what);
        auto label = make_label({{0x11, ""}, {0x64, "description"}});
        put_le16(&label, 1380 + 2, 5);  // the checksum then covers "descr" only
        put_le16(&label, 1380, xmodem_crc(reinterpret_cast<const uint8_t *>("descr"), 5));
        d.apply(&label);
        put_file("bad.bin", label);

        const image_run check = image({"check", path("bad.bin")});
        EXPECT_EQ(1, check.status);
        EXPECT_EQ("", check.out);
        EXPECT_EQ(0u, check.err.find("elabel-image: " + path("bad.bin") + ": " + d.problem))
            << check.err;
        EXPECT_EQ(1, std::count(check.err.begin(), check.err.end(), '\n')) << check.err;

        const image_run show = image({"show", path("bad.bin")});
        EXPECT_EQ(0, show.status);
        EXPECT_NE(std::string::npos, show.out.find(d.listing)) << show.out;

        bool found = false;
        for (const auto &line : json_lines("bad.bin")) {
            found = found || line.rfind(d.json, 0) == 0;
        }
        EXPECT_TRUE(found) << d.json;
    }
}

TEST_F(ImageTest, ErrorsNameFileAndItemPrintNothingOnStdoutAndLeaveNoFile)
{
    put_file("short.bin", std::vector<uint8_t>(2000, 0));
    put_file("big.bin", std::vector<uint8_t>(65537, 0));
    auto bad = make_label({{0x30, "x"}});
    bad[588] ^= 1;
    put_file("bad.bin", bad);
    put_file("cs.bin", make_label({{0x12, "CS1"}}));
    ASSERT_EQ(0, mkdir(path("sub").c_str(), 0700));
    const std::string out = path("out.bin");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"show", path("none.bin")}, 2, path("none.bin") + ": No such file or directory"},
        {{"check", path("short.bin")}, 2, path("short.bin") + ": 2000 bytes, too short"},
        {{"show", "--offset", "0x1000", path("bad.bin")}, 2, "too short for the 2360-byte label at byte 4096"},
        {{"build", "-o", out, "10=ABCD"}, 2, "item 0x10 (chassis_type): text of 4 bytes; at most 3 bytes fit"},
        {{"build", "-o", out, "30=ok", "13=x"}, 2, "build: '13' names no item"},
        {{"build", "-o", out, "0x=x"}, 2, "build: '0x' names no item"},
        {{"build", "-o", out, "130=x"}, 2, "build: '130' names no item"},  // elabel keeps 0x30
        {{"build", "-o", out, "prd_manufacturer=x"}, 2, "'prd_manufacturer' names no item"},
        {{"build", "-o", out, "prd=x"}, 2, "build: 'prd' names no item"},
        {{"build", "-o", out, "=x"}, 2, "build: '' names no item"},
        {{"build", "-o", out, "30"}, 2, "'30' is not ID=TEXT"},
        {{"build", "-o", out, "30=a", "prd_manufacture=b"}, 2, "item 0x30 (prd_manufacture) given twice"},
        {{"build", "-o", out, "31=SN\r"}, 2, "item 0x31 (prd_name): control byte 0x0d at byte 2 of the text"},
        {{"build", "-o", out, "31=\tx"}, 2, "control byte 0x09 at byte 0"},
        {{"build", "-o", out, "31=\x7f"}, 2, "control byte 0x7f at byte 0"},
        {{"build", "-o", out, "-o", out}, 2, "build: option -o given twice"},
        {{"build", "-o", out, "--offset", "0", "30=x"}, 2, "--offset applies only with --from FILE or --eeprom-size"},
        {{"build", "-o", out, "--json", "-", "--from", "-"}, 2, "standard input (-) named more than once"},
        {{"show", "--raw", path("bad.bin")}, 2, "show: option --raw applies only with --item"},
        {{"show", "--json", "--item", "30", path("bad.bin")}, 2, "option --item does not go with --json"},
        {{"show", "--item", "99", path("bad.bin")}, 2, "show: '99' names no item"},
        {{"show", "--offset", "1", "--offset", "1", path("bad.bin")}, 2, "option --offset given twice"},
        {{"dump", "--json", "-o", out}, 2, "dump: option --json does not apply"},
        {{"diff", path("bad.bin")}, 2, "diff: two labels (FILE or board) expected"},
        {{"check", "-", "-"}, 2, "check: standard input (-) named more than once"},
        {{"show", path("big.bin")}, 2, "big.bin: longer than 65536 bytes"},
        {{"check", "--offset", "65537", path("bad.bin")}, 2, "invalid offset: 65537 (0 to 65536"},
        {{"build", "-o", out, "--from", path("bad.bin")}, 1, "item 0x30 (prd_manufacture): checksum"},
        {{"build", "-o", path("no/such/dir.bin")}, 2, "no/such/dir.bin: No such file or directory"},
        {{"build", "-o", path("sub")}, 2, "sub: is a directory; only a regular file is replaced"},
        {{"build", "30=x"}, 2, "build: option -o is required"},
        {{"build", "-o", out, "--eeprom-size", "2871"}, 2, "no room for the label at byte 512"},
        {{"show", "--json", "--from", "x", path("bad.bin")}, 2, "show: option --from does not apply"},
        {{"check", "--offset", "-1", path("bad.bin")}, 2, "invalid offset: -1"},
        {{"check"}, 2, "check: FILE... expected"},
        {{"dump", "-o", out, "extra"}, 2, "dump: no operand expected"},
        {{"frobnicate"}, 2, "unknown command: frobnicate"},
        {{"build", "-o", out, "--require", "12,23", "12=CS2"}, 2,
         "build: item 0x23 (bd_serial_num) is required (--require) but not given as ID=TEXT\n"
         "elabel-image: build: " + out + " not written: 1 required item missing\n"},
        {{"build", "-o", out, "--require", "12", "12="}, 2, "0x12 (chassis_serial_num) is required (--require) but given empty"},
        {{"build", "-o", out, "--from", path("cs.bin"), "--require", "12"}, 2, "(chassis_serial_num) is required (--require) but not given"},
        {{"build", "-o", out, "--require", "12,,23", "12=a", "23=b"}, 2, "build: --require: '' names no item"},
        {{"show", "--template", path("cs.bin")}, 2, "show: option --template applies only with --json"},
        {{"program", "--dry-run", path("bad.bin")}, 2, "bad.bin: program would refuse it: the label does not check\n"},
        {{"set", "--from", "board", "30"}, 2, "set: --from takes a label file, not board"},
        {{"set", "--from", path("bad.bin"), "prd_manufacture"}, 2,
         "bad.bin: item 0x30 (prd_manufacture) is damaged there (checksum-mismatch): nothing written"},
    };
    const auto before = dir_entries(true);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args.back() : ""));
        const image_run r = image(c.args);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ("", r.out);
        EXPECT_EQ(0u, r.err.rfind("elabel-image: ", 0)) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(c.err)) << r.err;
        EXPECT_EQ(before, dir_entries(true));
    }
}

TEST_F(ImageTest, HelpAndTheProjectVersion)
{
    const image_run version = image({"--version"});
    EXPECT_EQ(0, version.status);
    EXPECT_EQ("elabel-image " ELABEL_VERSION "\n", version.out);
    for (const auto &args : {std::vector<std::string>{"--help"}, {"show", "-h"}}) {
        const image_run help = image(args);
        EXPECT_EQ(0, help.status);
        EXPECT_EQ(0u, help.out.find("Usage: elabel-image COMMAND"));
        EXPECT_EQ("", help.err);
    }
}

} // namespace
