// program --dry-run and set --dry-run on the simulated EEPROM: what would change,
// item by item, and never a write, a settled record or a kept label.
#include "image_fixture.h"

#include <unistd.h>

#include <fstream>
#include <functional>

namespace {

constexpr size_t PRD_NAME_FIELD = 660 + 4;

size_t writes_in(const std::string &stats)
{
    std::ifstream in(stats);
    size_t writes = 0;
    for (std::string line; std::getline(in, line);) {
        writes += line.find("op=write ") != std::string::npos;
    }
    return writes;
}

TEST_F(ImageTest, DryRunsPrintWhatWouldChangeAndWriteNothing)
{
    const auto stored = make_label({{0x30, "old maker"}, {0x31, "prd"}});
    auto damaged = stored;
    damaged[PRD_NAME_FIELD] = 'P';
    put_file("same.bin", stored);
    put_file("new.bin", make_label({{0x30, "ACME"}, {0x31, "prd"}, {0x64, "desc"}}));
    put_file("bad.bin", damaged);
    const std::vector<uint8_t> blank(SIM_SIZE, 0xFF);
    const auto cut_program = [&] {
        ASSERT_EQ(-1, image({"program", path("new.bin")}, {{"QUELLIX_SIM_SIGNAL_AFTER_PAGES", "80"}})
                          .status);
    };
    const char *const maker = "0x30  prd_manufacture     \"old maker\"  \"ACME\"\n";
    const struct {
        std::vector<std::string> args;
        std::function<void()> prepare;  // the device holds `stored` unless this changes it
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {{"set", "--dry-run", "30=ACME", "31=prd"}, nullptr, 1,
         std::string(maker) + "dry run: 1 change, nothing written\n", ""},
        {{"set", "--dry-run", "prd_manufacture=old maker"}, nullptr, 0,
         "dry run: nothing to change\n", ""},
        {{"set", "--dry-run", "--from", path("new.bin"), "30", "64"}, nullptr, 1,
         std::string(maker) + "0x64  sys_description     \"\"  \"desc\"\n"
                              "dry run: 2 changes, nothing written\n", ""},
        {{"set", "--dry-run", "30=ACME"}, [&] { put_label(damaged); }, 1,
         std::string(maker) + "dry run: 1 change, nothing written\n",
         "set: item 0x31 (prd_name) on the board is damaged (checksum-mismatch); set would keep "
         "it as stored\n"},
        {{"set", "--dry-run", "30=ACME"}, [&] { put_device(blank); }, 3, "",
         "set: the board holds no label (magic 0xffffffff is not 0x454c4142): set would refuse it"},
        {{"program", "--dry-run", path("new.bin")}, nullptr, 1,
         std::string(maker) + "0x64  sys_description     \"\"  \"desc\"\n"
                              "dry run: 2 changes, nothing written\n", ""},
        {{"program", "--dry-run", path("same.bin")}, nullptr, 0, "dry run: nothing to change\n", ""},
        {{"program", "--dry-run", path("new.bin")}, [&] { put_device(blank); }, 1,
         "label  blank (all 2360 bytes 0xff)  magic 0x454c4142\n"
         "dry run: 1 change, nothing written\n", ""},
        {{"program", "--dry-run", path("bad.bin")}, nullptr, 2, "",
         "bad.bin: program would refuse it: the label does not check\n"},
        // A cut write-back is left for a real run to finish.
        {{"program", "--dry-run", path("new.bin")}, cut_program, 5, "changes, nothing written\n",
         "an unfinished write-back is pending"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        put_label(stored);
        if (c.prepare) {
            c.prepare();
        }
        const std::vector<uint8_t> before = device();
        unlink(path("stats").c_str());
        const image_run r = image(c.args, {{"QUELLIX_SIM_STATS", path("stats")}});
        EXPECT_EQ(c.status, r.status) << r.err;
        if (c.status == 5) {
            EXPECT_NE(std::string::npos, r.out.find(c.out)) << r.out;
            EXPECT_EQ(0, access(RECORD_FILE, F_OK));
        } else {
            EXPECT_EQ(c.out, r.out);
        }
        EXPECT_NE(std::string::npos, r.err.find(c.err)) << r.err;
        EXPECT_EQ(c.err.empty(), r.err.empty()) << r.err;
        EXPECT_EQ(before, device());
        EXPECT_EQ(0u, writes_in(path("stats")));
    }
}

} // namespace
