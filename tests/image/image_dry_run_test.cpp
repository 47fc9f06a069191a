// program --dry-run and set --dry-run on the simulated EEPROM: what would change,
// item by item, and never a write or a settled record.
#include "image_fixture.h"

#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

namespace {

TEST_F(ImageTest, DryRunsPrintWhatWouldChangeAndWriteNothing)
{
    const auto stored = make_label({{0x30, "old maker"}, {0x31, "prd"}});
    auto damaged = stored;
    damaged[660 + 4] = 'P';  // prd_name's checksum no longer matches
    put_file("same.bin", stored);
    put_file("new.bin", make_label({{0x30, "ACME"}, {0x31, "prd"}, {0x64, "desc"}}));
    const std::string maker = "0x30  prd_manufacture     \"old maker\"  \"ACME\"\n";
    const struct {
        std::vector<std::string> args;
        std::function<void()> prepare;  // the device holds `stored` unless this changes it
        int status;
        std::string out;  // for status 5, its end
        std::string err;
    } cases[] = {
        {{"set", "--dry-run", "30=ACME"}, [&] { put_label(damaged); }, 1,
         maker + "dry run: 1 change, nothing written\n",
         "set: item 0x31 (prd_name) on the board is damaged (checksum-mismatch); set would keep "
         "it as stored\n"},
        {{"set", "--dry-run", "30=ACME"}, [&] { put_device(std::vector<uint8_t>(SIM_SIZE, 0xFF)); },
         3, "", "set: the board holds no label (magic 0xffffffff is not 0x454c4142): set would"},
        {{"program", "--dry-run", path("new.bin")}, nullptr, 1,
         maker + "0x64  sys_description     \"\"  \"desc\"\ndry run: 2 changes, nothing written\n", ""},
        {{"program", "--dry-run", path("same.bin")}, nullptr, 0, "dry run: nothing to change\n", ""},
        // A cut write-back is left for a real run to finish.
        {{"program", "--dry-run", path("new.bin")},
         [&] { image({"program", path("new.bin")}, {{"QUELLIX_SIM_SIGNAL_AFTER_PAGES", "3"}}); }, 5,
         "changes, nothing written\n", "an unfinished write-back is pending"},
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
        const size_t tail = c.status == 5 && r.out.size() > c.out.size() ? r.out.size() - c.out.size() : 0;
        EXPECT_EQ(c.out, r.out.substr(tail));
        EXPECT_NE(std::string::npos, r.err.find(c.err)) << r.err;
        EXPECT_EQ(c.err.empty(), r.err.empty()) << r.err;
        EXPECT_EQ(before, device());
        std::ostringstream stats;
        stats << std::ifstream(path("stats")).rdbuf();
        EXPECT_EQ(std::string::npos, stats.str().find("op=write ")) << stats.str();
    }
    EXPECT_EQ(0, access(RECORD_FILE, F_OK));  // the cut program's record stays
}

} // namespace
