// What the board's readers, recover and set say and exit with, in process on
// the store's fake platform: one table of states beside the label.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "elabel_record.h"
#include "fake_platform.h"
#include "image_tool.h"

using fake::g;
using BoardStateTest = StoreTest;

namespace {

image_options options(std::vector<char *> *args, const char *output = nullptr)
{
    image_options opt{};
    opt.offset = -1;
    opt.eeprom_size = -1;
    opt.output = output;
    opt.args = args->data();
    opt.nargs = static_cast<int>(args->size());
    return opt;
}

int run(int (*command)(const image_options &), const image_options &opt, std::string *err,
        std::string *out = nullptr)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int ret = command(opt);
    *err = testing::internal::GetCapturedStderr();
    const std::string printed = testing::internal::GetCapturedStdout();
    if (out != nullptr) {
        *out = printed;
    }
    return ret;
}

} // namespace

// While the label may be as a cut left it (a record pending, or a damaged one
// set aside), every reader of the board says so and exits 5; a directory in the
// record's way is said as what it is.
TEST_F(BoardStateTest, ReadersOfTheBoardSayWhatIsBesideTheLabel)
{
    fake::put_label(fake::make_image({{0x30, "ACME"}}));
    const std::string record = fake::record_path();
    const struct {
        const char *what;
        std::string setup;
        int status;
        std::string said;
    } cases[] = {
        {"nothing", "true", IMAGE_OK, ""},
        {"a record pending", "touch " + record, IMAGE_PENDING, "an unfinished write-back is pending"},
        {"a damaged record set aside", "touch " + record + ".damaged-01234567", IMAGE_PENDING,
         "a damaged pending-write record was set aside as " + record + ".damaged-01234567"},
        {"a directory at the record path", "mkdir " + record, IMAGE_OK,
         "the record path is blocked: a directory; remove it"},
    };
    char board[] = "board";
    const std::string out = g.record_dir + "-dump.bin";
    for (const auto &c : cases) {
        ASSERT_EQ(0, system(("mkdir -p " + g.record_dir + " && " + c.setup).c_str())) << c.what;
        std::vector<char *> one = {board};
        std::vector<char *> two = {board, board};
        std::vector<char *> none;
        const struct {
            const char *name;
            int (*command)(const image_options &);
            image_options opt;
        } readers[] = {
            {"check", image_check_run, options(&one)},
            {"show", image_show_run, options(&one)},
            {"diff", image_diff_run, options(&two)},
            {"dump", image_dump_run, options(&none, out.c_str())},
        };
        for (const auto &r : readers) {
            std::string err;
            EXPECT_EQ(c.status, run(r.command, r.opt, &err)) << c.what << ", " << r.name;
            EXPECT_NE(std::string::npos, err.find(c.said)) << c.what << ", " << r.name << ": " << err;
            if (c.status == IMAGE_OK) {
                EXPECT_EQ(std::string::npos, err.find("finishes it")) << c.what << ", " << r.name;
            }
        }
        // A dump that cannot write its file is a file error whatever else holds.
        std::string err;
        const std::string nowhere = g.record_dir + "/no/such/dir/dump.bin";
        EXPECT_EQ(IMAGE_USAGE, run(image_dump_run, options(&none, nowhere.c_str()), &err)) << c.what;
        ASSERT_EQ(0, system(("rm -rf " + record + " " + record + ".*").c_str()));
    }
}

// recover's status follows what became of the record: finished, set aside
// (a restore read back worn), or staying (a read-back that failed every try,
// a record that can be neither set aside nor removed).
TEST_F(BoardStateTest, RecoverSaysWhatBecameOfTheRecord)
{
    const auto image = fake::make_image({{0x30, "new"}, {0x50, "ext"}});
    const auto old = fake::make_image({{0x30, "old"}, {0x50, "ext"}});
    auto cut = image;
    std::fill(cut.begin() + 10 * 32, cut.end(), 0);  // a write pass cut after page 10
    const auto other = fake::make_image({{0x30, "another board"}, {0x50, "its own"}});
    const struct {
        const char *what;
        std::vector<uint8_t> device;
        void (*fault)();
        int status;
        bool stays;
        size_t aside;
        std::vector<uint8_t> after;
    } cases[] = {
        {"a cut finished", cut, [] {}, IMAGE_OK, false, 0, image},
        {"a restore read back worn", cut, [] { g.stuck_at = ELABEL_FLASH_OFFSET + 592; },
         IMAGE_INVALID, false, 1, {}},
        {"a restore whose read-back failed", cut, [] { g.fail_reads = {2, 3, 4}; }, IMAGE_DEVICE,
         true, 0, image},
        {"another label, nowhere to set it aside", other, [] { g.file_faults = {{"link", EXDEV}}; },
         IMAGE_DEVICE, true, 0, other},
    };
    for (const auto &c : cases) {
        fake::install();  // a fresh platform and record directory for each
        fake::put_label(c.device);
        ASSERT_EQ(0, elabel_record_store(image.data(), old.data(), false));
        c.fault();
        std::string err;
        std::vector<char *> none;
        EXPECT_EQ(c.status, run(image_recover_run, options(&none), &err)) << c.what << ": " << err;
        if (c.stays && c.after == c.device) {
            // A record that stays over a label the board holds keeps no load from reading it.
            EXPECT_EQ(0, driver_elabel_init()) << c.what;
            EXPECT_EQ(c.device, fake::current_image()) << c.what;
        }
        g.file_faults.clear();
        EXPECT_EQ(c.stays, fake::record_exists()) << c.what;
        EXPECT_EQ(c.aside, fake::files_like("pending-label.set-aside-").size()) << c.what;
        if (!c.after.empty()) {
            EXPECT_EQ(c.after, fake::label()) << c.what;
        }
    }
}

// set and diff refuse before they touch the board: no item named, an operand
// that cannot be read.
TEST_F(BoardStateTest, SetWithoutItemsAndDiffOfAnUnreadableFileTouchNothing)
{
    fake::put_label(fake::make_image({{0x30, "ACME"}}));
    const std::string empty_doc = g.record_dir + "-empty.json";
    std::ofstream(empty_doc) << "{\"format\": \"elabel-label\", \"version\": 1, \"items\": []}\n";
    char missing[] = "/nonexistent/label.bin";
    char board[] = "board";
    std::vector<char *> none;
    std::vector<char *> sides = {missing, board};
    image_options from_doc = options(&none);
    from_doc.json_in = empty_doc.c_str();
    const struct {
        const char *what;
        int (*command)(const image_options &);
        image_options opt;
    } cases[] = {
        {"set without items", image_set_run, options(&none)},
        {"set --json naming none", image_set_run, from_doc},
        {"diff of a file that cannot be read", image_diff_run, options(&sides)},
    };
    for (const auto &c : cases) {
        g.reads = g.writes = 0;
        std::string err;
        std::string out;
        EXPECT_EQ(IMAGE_USAGE, run(c.command, c.opt, &err, &out)) << c.what;
        EXPECT_EQ("", out) << c.what;
        EXPECT_EQ(0, g.reads) << c.what;
        EXPECT_EQ(0, g.writes) << c.what;
    }
}
