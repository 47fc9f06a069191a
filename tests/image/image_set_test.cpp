// set on the simulated EEPROM: several items in one write-back, and the board
// states it refuses.
#include "image_fixture.h"

#include <sys/mount.h>

#include <fstream>
#include <functional>
#include <optional>

namespace {

struct bus_calls {
    int reads = 0;
    int writes = 0;
};

bus_calls count_calls(const std::string &stats)
{
    bus_calls calls;
    std::ifstream in(stats);
    for (std::string line; std::getline(in, line);) {
        (line.find("op=write ") != std::string::npos ? calls.writes : calls.reads) += 1;
    }
    return calls;
}

constexpr size_t PRD_NAME_FIELD = 660 + 4;

TEST_F(ImageTest, SetChangesItemsInOneWriteBackAndRefusesWhatItMustNotWrite)
{
    auto stored = make_label({{0x30, "old maker"}, {0x31, "prd"}, {0x64, "a longer old text"}});
    stored[PRD_NAME_FIELD + 1] = 'X';  // prd_name damaged: never named, kept as it is
    auto expected = make_label({{0x10, "C2"}, {0x23, "BS9"}, {0x30, "ACME"}, {0x31, "prd"},
                                {0x64, "from json"}});
    expected[PRD_NAME_FIELD + 1] = 'X';
    std::ofstream(path("items.json"))
        << R"({"items": [{"name": "prd_manufacture", "text": "JSONCO"},)"
        << R"( {"id_hex": "0x64", "text": "from json"}]})";
    const std::vector<std::string> several = {"set", "10=C2", "bd_serial_num=BS9", "--json",
                                              path("items.json"), "30=ACME"};
    // A program cut after 3 of its page writes: the item beyond the cut is the
    // programmed label's only when the cut write-back is finished before set reads.
    const auto programmed = make_label({{0x30, "programmed"}, {0x62, "beyond the cut"}});
    const auto set_on_programmed = make_label({{0x10, "C2"}, {0x23, "BS9"}, {0x30, "ACME"},
                                               {0x62, "beyond the cut"}, {0x64, "from json"}});
    const auto cut_program = [&] {
        put_file("new.bin", programmed);
        ASSERT_EQ(-1, image({"program", path("new.bin")}, {{"QUELLIX_SIM_SIGNAL_AFTER_PAGES", "3"}})
                          .status);
    };
    put_file("factory.bin", make_label({{0x30, "factory maker"}, {0x31, "factory prd"}, {0x64, "x"}}));
    const auto restored = make_label({{0x30, "factory maker"}, {0x31, "factory prd"}, {0x64, "typed"}});
    std::optional<lock_holder> other_run;
    const auto record_that_stays = [&] {
        cut_program();
        put_label(programmed);  // found written, but the record cannot be removed
        ASSERT_EQ(0, mount(RECORD_FILE, RECORD_FILE, nullptr, MS_BIND, nullptr));
    };
    const struct {
        const char *name;
        std::function<void()> prepare;  // the device holds `stored` unless this changes it
        std::vector<std::string> args;
        std::map<std::string, std::string> env;
        int status;
        const char *done;  // the result line's, or nullptr for none
        std::vector<std::string> err;
        const std::vector<uint8_t> *after;  // nullptr: the device as it was
        bus_calls calls;
    } cases[] = {
        {"several items", nullptr, several, {}, 0, "written and read back",
         {"elabel-image: set: item 0x31 (prd_name) on the board is damaged (checksum-mismatch); "
          "kept as stored\n"},
         &expected, {2, 2}},
        {"blank part", [&] { put_device(std::vector<uint8_t>(SIM_SIZE, 0xFF)); }, several, {}, 1, "not written",
         {"the board holds no label", "'elabel-image build'", "'elabel-image program'"}, nullptr,
         {1, 0}},
        {"write-protected, writes refused", nullptr, several,
         {{"QUELLIX_SIM_WRITE_PROTECT", "nack"}}, 3, "unchanged",
         {"set: writing /dev/i2c-8 failed", "the label is unchanged"}, nullptr, {2, 1}},
        {"write-protected, writes dropped", nullptr, several,
         {{"QUELLIX_SIM_WRITE_PROTECT", "ignore"}}, 3, "unchanged",
         {"set: /dev/i2c-8 ignored the writes (write-protected?)"}, nullptr, {2, 2}},
        {"signal during the write-back", nullptr, several,
         {{"QUELLIX_SIM_SIGNAL_AFTER_PAGES", "3"}, {"QUELLIX_SIM_SIGNAL", "TERM"}}, -1, "written and read back",
         {"set: written and read back; a signal that came meanwhile ends the run now\n"},
         &expected, {2, 2}},
        {"locked by another run", [&] { other_run.emplace(); }, several, {}, 3, "not written",
         {"set: the label on /dev/i2c-8 is locked by another run (bus busy)\n"}, nullptr, {0, 0}},
        {"item named twice", nullptr, {"set", "30=A", "prd_manufacture=B"}, {}, 2, nullptr,
         {"elabel-image: set: item 0x30 (prd_manufacture) given twice\n"}, nullptr, {0, 0}},
        {"items from a label file", nullptr,
         {"set", "--from", path("factory.bin"), "30", "prd_name", "0x64=typed"}, {}, 0, "written and read back", {},
         &restored, {2, 2}},
        {"cut write-back", cut_program, several, {}, 0, "written and read back",
         {"set: an unfinished write-back was settled first"}, &set_on_programmed, {4, 4}},
        {"record that stays (last)", record_that_stays, several, {}, 3, "not written",
         {"set: nothing written: an unfinished write-back is pending (record " +
              std::string(RECORD_FILE),
          "not removed (Device or resource busy)"},
         nullptr, {1, 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        put_label(stored);
        if (c.prepare) {
            c.prepare();
        }
        const std::vector<uint8_t> before = label();
        auto env = c.env;
        env["QUELLIX_SIM_STATS"] = path("stats");
        unlink(path("stats").c_str());

        const image_run r = image(c.args, env);
        other_run.reset();
        EXPECT_EQ(c.status, r.status) << r.err;
        EXPECT_EQ(c.done != nullptr ? "set: " + std::string(c.done) + " (T s)\n" : "",
                  untimed(r.out));
        for (const auto &part : c.err) {
            EXPECT_NE(std::string::npos, r.err.find(part)) << r.err;
        }
        EXPECT_EQ(c.after != nullptr ? *c.after : before, label());
        // One erase pass and one write pass, and no read but the raw one and the read-back.
        const bus_calls calls = count_calls(path("stats"));
        EXPECT_EQ(c.calls.reads, calls.reads);
        EXPECT_EQ(c.calls.writes, calls.writes);
    }
    EXPECT_EQ(0, umount2(RECORD_FILE, MNT_DETACH));
    EXPECT_EQ(0, access(RECORD_FILE, F_OK));  // the record that stays is still there
}

} // namespace
