// dump and program on the simulated EEPROM.
#include "image_fixture.h"

namespace {

// A device whose bytes outside the label are a pattern, so any stray write shows.
std::vector<uint8_t> patterned_device(const std::vector<uint8_t> &label)
{
    std::vector<uint8_t> all(SIM_SIZE);
    for (size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<uint8_t>(i * 13 + 1);
    }
    std::copy(label.begin(), label.end(), all.begin() + LABEL_AT);
    return all;
}

TEST_F(ImageTest, DumpSavesTheLabelAsStoredWithoutRepairOrWriteBack)
{
    auto label = make_label({{0x30, "ACME"}});
    label[0] = 0;           // a wrong magic, which elabel would write back over
    label[660 + 2] = 0x7F;  // and an item it would repair
    const auto device_before = patterned_device(label);
    put_device(device_before);

    const image_run r = image({"dump", "-o", path("dump.bin")});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ("", r.out + r.err);
    EXPECT_EQ(label, file("dump.bin"));
    EXPECT_EQ(device_before, device());
    EXPECT_TRUE(r.log.empty());
}

TEST_F(ImageTest, DumpOfAnUnreadableDeviceWritesNoFile)
{
    put_device(patterned_device(make_label()));
    const image_run r = image({"dump", "-o", path("dump.bin")}, {{"QUELLIX_SIM_FAIL_READ", "all"}});
    EXPECT_EQ(3, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_NE(std::string::npos, r.err.find("reading /dev/i2c-8 failed")) << r.err;
    EXPECT_EQ(std::vector<std::string>{"eeprom.bin"}, dir_entries());
}

TEST_F(ImageTest, ProgramWritesTheFileAndTheLabelReadsBackEqual)
{
    const auto old_device = patterned_device(make_label({{0x30, "old"}}));
    put_device(old_device);
    const items texts = {{0x10, "C1"}, {0x23, "BOARD-SN"}, {0x30, "ACME"}, {0x50, "ext"}};
    ASSERT_EQ(0, image({"build", "-o", path("new.bin"), "10=C1", "23=BOARD-SN", "30=ACME", "50=ext"})
                     .status);

    const image_run r = image({"program", path("new.bin")});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ("program: written and read back (T s)\n", untimed(r.out));
    EXPECT_EQ("", r.err);
    EXPECT_EQ(make_label(texts), label());
    auto expected = old_device;
    const auto new_label = make_label(texts);
    std::copy(new_label.begin(), new_label.end(), expected.begin() + LABEL_AT);
    EXPECT_EQ(expected, device());

    // The same from a whole-EEPROM image: only its label is written.
    std::vector<uint8_t> whole(SIM_SIZE, 0x00);
    const auto other = make_label({{0x31, "whole"}});
    std::copy(other.begin(), other.end(), whole.begin() + LABEL_AT);
    put_file("whole.bin", whole);
    ASSERT_EQ(0, image({"program", path("whole.bin")}).status);
    std::copy(other.begin(), other.end(), expected.begin() + LABEL_AT);
    EXPECT_EQ(expected, device());
}

TEST_F(ImageTest, ProgramReportsAReadBackThatDiffers)
{
    ASSERT_EQ(0, image({"build", "-o", path("new.bin"), "30=ACME"}).status);
    // A worn cell keeps its 0xFF: under prd_manufacture's first byte, and the label's last.
    const struct {
        size_t at;
        const char *err;
    } cases[] = {
        {592, "592 (prd_manufacture): wrote 0x41, read 0xff\n"},
        {LABEL_LEN - 1, "2359 (extend_info): wrote 0x00, read 0xff\n"},
    };
    for (const auto &c : cases) {
        put_device(std::vector<uint8_t>(SIM_SIZE, 0xFF));
        const image_run r = image({"program", path("new.bin")},
                                  {{"QUELLIX_SIM_STUCK_BYTE", std::to_string(LABEL_AT + c.at)}});
        EXPECT_EQ(4, r.status);
        EXPECT_EQ("program: pending: the next run finishes it (T s)\n", untimed(r.out));
        // Read back as a write cut short would leave it: the record stays to finish it.
        EXPECT_EQ("elabel-image: " + path("new.bin") +
                      ": read back from /dev/i2c-8 differs at label byte " + c.err +
                      "elabel-image: " + path("new.bin") + ": the pending-write record " +
                      RECORD_FILE + " stays (label read back differs from the one written; "
                      "record " + RECORD_FILE + " kept): the next elabel command, elabel-image "
                      "program or 'elabel-image recover' finishes it\n",
                  r.err);
        (void)image({"recover"});
    }
}

TEST_F(ImageTest, ProgramRefusesWhatItCannotWriteAndLeavesTheDevice)
{
    const auto device_before = patterned_device(make_label({{0x30, "old"}}));
    auto bad = make_label({{0x30, "new"}});
    bad[588 + 2] = 70;  // longer than the item's field
    put_file("bad.bin", bad);
    put_file("good.bin", make_label({{0x30, "new"}}));
    const struct {
        const char *file;
        std::map<std::string, std::string> env;
        int status;
        const char *err;
        const char *out;
    } cases[] = {
        {"bad.bin", {}, 1, "item 0x30 (prd_manufacture): length 70 beyond capacity 68", ""},
        {"missing.bin", {}, 2, "missing.bin: No such file or directory", ""},
        // Every write fails before any byte reaches the chip; a part that does not acknowledge.
        {"good.bin", {{"QUELLIX_SIM_FAIL_WRITE", "all"}}, 3,
         "writing /dev/i2c-8 failed: the transfer failed, the label is unchanged",
         "program: unchanged (T s)\n"},
        {"good.bin", {{"QUELLIX_SIM_WRITE_PROTECT", "nack"}}, 3,
         "writing /dev/i2c-8 failed: the transfer failed, the label is unchanged",
         "program: unchanged (T s)\n"},
        // Every write acknowledged and dropped.
        {"good.bin", {{"QUELLIX_SIM_WRITE_PROTECT", "ignore"}}, 3,
         "good.bin: not programmed: /dev/i2c-8 took the writes, but the label reads back as it "
         "was: the part ignored the writes (write protection?)\n", "program: unchanged (T s)\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        put_device(device_before);
        const image_run r = image({"program", path(c.file)}, c.env);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(c.out, untimed(r.out));
        EXPECT_NE(std::string::npos, r.err.find(c.err)) << r.err;
        EXPECT_EQ(device_before, device());
    }
}

// --verbose puts what the store logs on standard error too; without it the
// details stay in the system log.
TEST_F(ImageTest, VerboseSendsTheLogLinesToStandardErrorToo)
{
    put_device(patterned_device(make_label({{0x30, "old"}})));
    put_file("good.bin", make_label({{0x30, "new"}}));
    const std::map<std::string, std::string> nack = {{"QUELLIX_SIM_WRITE_PROTECT", "nack"}};
    const image_run quiet = image({"program", path("good.bin")}, nack);
    const image_run verbose = image({"program", "--verbose", path("good.bin")}, nack);
    EXPECT_EQ(3, verbose.status);
    EXPECT_EQ(std::string::npos, quiet.err.find("elabel-image: log: "));
    EXPECT_NE(std::string::npos, verbose.err.find("elabel-image: log: [")) << verbose.err;
    EXPECT_NE(std::string::npos, verbose.err.find("i2c_write_data error.\n")) << verbose.err;
    EXPECT_EQ(quiet.log.size(), verbose.log.size());  // the system log gets them all the same
}

TEST_F(ImageTest, DumpAndProgramWaitForTheLockLikeElabel)
{
    put_device(patterned_device(make_label()));
    put_file("good.bin", make_label({{0x30, "new"}}));
    const lock_holder lock;
    ASSERT_TRUE(lock.held());
    for (const auto &args : {std::vector<std::string>{"dump", "-o", path("d.bin")},
                             std::vector<std::string>{"program", path("good.bin")}}) {
        const image_run r = image(args);
        EXPECT_EQ(3, r.status) << args[0];
        EXPECT_NE(std::string::npos, r.err.find("locked by another run (bus busy)")) << r.err;
    }
    EXPECT_EQ(make_label(), label());
}

} // namespace

// A write-back cut short (here program's, killed after 3 of its page writes: the
// two pages the old label does not hold as zeros erased, one of the new): dump
// and diff say a write-back is pending, and recover finishes it.
TEST_F(ImageTest, CutWriteBackIsShownByDumpAndDiffAndFinishedByRecover)
{
    put_device(patterned_device(make_label({{0x30, "old"}})));
    ASSERT_EQ(0, image({"build", "-o", path("new.bin"), "30=new", "31=board"}).status);
    EXPECT_EQ(-1, image({"program", path("new.bin")}, {{"QUELLIX_SIM_SIGNAL_AFTER_PAGES", "3"}})
                      .status);
    const std::vector<uint8_t> cut = label();
    ASSERT_NE(file("new.bin"), cut);
    const std::string pending = "an unfinished write-back is pending";

    const image_run dump = image({"dump", "-o", path("cut.bin")});
    EXPECT_EQ(5, dump.status);
    EXPECT_NE(std::string::npos, dump.err.find(pending)) << dump.err;
    EXPECT_EQ(cut, file("cut.bin"));
    EXPECT_NE(std::string::npos, image({"diff", path("new.bin"), "board"}).err.find(pending));

    const image_run recovered = image({"recover"});
    EXPECT_EQ(0, recovered.status) << recovered.err;
    EXPECT_EQ("unfinished write-back finished: the board holds its label\n", recovered.out);
    EXPECT_EQ(file("new.bin"), label());
    EXPECT_EQ(0, image({"diff", path("new.bin"), "board"}).status);
    EXPECT_EQ("no unfinished write-back\n", image({"recover"}).out);
}

TEST_F(ImageTest, RecoverSetsAsideWhatIsNotTheBoardsAndKeepsWhatItCannotCheck)
{
    put_device(patterned_device(make_label({{0x30, "old"}})));
    ASSERT_EQ(0, image({"build", "-o", path("new.bin"), "30=new"}).status);
    const std::map<std::string, std::string> cut = {{"QUELLIX_SIM_SIGNAL_AFTER_PAGES", "3"}};
    ASSERT_EQ(-1, image({"program", path("new.bin")}, cut).status);
    EXPECT_EQ(3, image({"recover"}, {{"QUELLIX_SIM_FAIL_READ", "all"}}).status);
    EXPECT_EQ(0, access(RECORD_FILE, F_OK));  // kept for a later run

    // The part replaced meanwhile: a label no cut of this write-back leaves.
    const auto other = make_label({{0x30, "another board"}, {0x64, "its description"}});
    put_label(other);
    const image_run r = image({"recover"});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("set aside")) << r.err;
    EXPECT_EQ(other, label());
    EXPECT_NE(0, access(RECORD_FILE, F_OK));
}

// A termination signal during program's write-back: the label is written and
// read back, program says so, then the signal ends the run.
TEST_F(ImageTest, ProgramSaysTheLabelWasWrittenBeforeAHeldSignalEndsIt)
{
    put_device(patterned_device(make_label({{0x30, "old"}})));
    ASSERT_EQ(0, image({"build", "-o", path("new.bin"), "30=new"}).status);
    const image_run r = image({"program", path("new.bin")}, {{"QUELLIX_SIM_SIGNAL", "TERM"},
                                                             {"QUELLIX_SIM_SIGNAL_AFTER_PAGES",
                                                              "3"}});
    EXPECT_EQ(-1, r.status);
    EXPECT_EQ("elabel-image: " + path("new.bin") +
                  ": written to /dev/i2c-8 and read back; a signal that came meanwhile ends "
                  "the run now\n",
              r.err);
    EXPECT_EQ(file("new.bin"), label());
}
