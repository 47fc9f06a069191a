// Service work on the board: its label read wherever a label is read, and
// pending-write records read, taken apart and refused where a label is meant.
#include "image_fixture.h"

#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>

namespace {

constexpr size_t NPOS = std::string::npos;

uint32_t crc32(const uint8_t *data, size_t len)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < len; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
    }
    return ~crc;
}

// A record of the first format: tag, length, offset, the label it writes, CRC-32.
std::vector<uint8_t> earlier_record(const std::vector<uint8_t> &label)
{
    std::string bytes = std::string("ELABPWR1\x38\x09\0\0\0\x02\0\0", 16) +
                        std::string(label.begin(), label.end());
    const uint32_t crc = crc32(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    for (int i = 0; i < 4; ++i) {
        bytes.push_back(static_cast<char>(crc >> (8 * i)));
    }
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

TEST_F(ImageTest, BoardIsReadAsStoredWhereverALabelIsRead)
{
    auto stored = make_label({{0x30, "ACME"}, {0x31, "name"}});
    stored[660 + 4] = 'N';  // prd_name's checksum no longer matches: shown, never repaired
    put_label(stored);
    const auto before = device();
    put_file("board", make_label({{0x30, "a file"}}));
    ASSERT_EQ(0, chdir(dir_.c_str()));  // for ./board
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;  // found in standard output
        std::string err;  // found in standard error
    } cases[] = {
        {{"show", "board"}, 0, "0x31  prd_name            checksum-mismatch", ""},
        {{"show", "--item", "30", "--raw", "board"}, 0, "ACME", ""},
        {{"check", "board"}, 1, "", "elabel-image: board: item 0x31 (prd_name): checksum"},
        {{"build", "-o", path("copy.bin"), "--from", "board"}, 1, "", "board: item 0x31"},
        {{"show", "--item", "30", "--raw", "./board"}, 0, "a file", ""},
        {{"show", "--offset", "0", "board"}, 2, "", "--offset applies only to a label file"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        const image_run r = image(c.args);
        EXPECT_EQ(c.status, r.status) << r.err;
        EXPECT_NE(NPOS, r.out.find(c.out)) << r.out;
        EXPECT_NE(NPOS, r.err.find(c.err)) << r.err;
    }
    ASSERT_EQ(0, chdir("/"));
    EXPECT_EQ(before, device());

    // A write-back cut short: each says so and exits 5, build copies nothing.
    put_label(make_label({{0x30, "old"}}));
    ASSERT_EQ(0, image({"build", "-o", path("new.bin"), "30=new"}).status);
    ASSERT_EQ(-1, image({"program", path("new.bin")}, {{"QUELLIX_SIM_SIGNAL_AFTER_PAGES", "3"}})
                      .status);
    const std::string pending = "an unfinished write-back is pending";
    for (const auto &args : {std::vector<std::string>{"show", "board"},
                             {"check", "board"},
                             {"check", "board", path("new.bin")},
                             {"build", "-o", path("copy.bin"), "--from", "board"}}) {
        SCOPED_TRACE(args[0] + " " + args.back());
        const image_run r = image(args);
        EXPECT_EQ(5, r.status);
        EXPECT_NE(NPOS, r.err.find(pending)) << r.err;
    }
    EXPECT_EQ(2, image({"check", "board", path("none.bin")}).status);  // the file's error is worse
    EXPECT_NE(0, access(path("copy.bin").c_str(), F_OK));

    ASSERT_EQ(0, image({"recover"}).status);
    ASSERT_EQ(0, image({"build", "-o", path("copy.bin"), "--from", "board", "31=added"}).status);
    EXPECT_EQ(make_label({{0x30, "new"}, {0x31, "added"}}), file("copy.bin"));
}

// A record left by a cut write-back: show names its two labels, program
// refuses it, extract writes either, and programming that file applies it.
TEST_F(ImageTest, RecordsAreShownRefusedAsLabelsAndTakenApart)
{
    const auto old_label = make_label({{0x30, "old"}});
    const auto new_label = make_label({{0x30, "new"}});
    put_label(old_label);
    put_file("new.bin", new_label);
    ASSERT_EQ(-1, image({"program", path("new.bin")}, {{"QUELLIX_SIM_SIGNAL_AFTER_PAGES", "3"}})
                      .status);
    ASSERT_EQ(0, std::system(("cp " + std::string(RECORD_FILE) + " " + path("rec")).c_str()));
    const std::vector<uint8_t> record = file("rec");
    ASSERT_EQ(4752u, record.size());
    ASSERT_EQ(0, image({"recover"}).status);
    put_label(old_label);

    const image_run shown = image({"show", path("rec")});
    EXPECT_EQ(0, shown.status) << shown.err;
    const size_t written = shown.out.find("written: the label its write-back writes\n");
    const size_t replaced = shown.out.find("replaced: the label the board held before\n");
    EXPECT_EQ(0u, shown.out.find("pending-write record, format ELABPWR3\n")) << shown.out;
    EXPECT_LT(written, shown.out.find("\"new\""));
    EXPECT_LT(shown.out.find("\"new\""), replaced);
    EXPECT_LT(replaced, shown.out.find("\"old\""));
    EXPECT_NE(NPOS, shown.out.find("\"old\""));

    for (const auto &args : {std::vector<std::string>{"program", path("rec")},
                             {"check", path("rec")},
                             {"show", "--json", path("rec")}}) {
        const image_run r = image(args);
        EXPECT_EQ(2, r.status) << args[0];
        EXPECT_NE(NPOS, r.err.find("a pending-write record")) << r.err;
    }
    EXPECT_EQ(old_label, label());

    ASSERT_EQ(0, image({"extract", "-o", path("w.bin"), path("rec")}).status);
    EXPECT_EQ(new_label, file("w.bin"));
    ASSERT_EQ(0, image({"extract", "--replaced", "-o", path("r.bin"), path("rec")}).status);
    EXPECT_EQ(old_label, file("r.bin"));
    ASSERT_EQ(0, image({"program", path("w.bin")}).status);
    EXPECT_EQ(new_label, label());

    // The first format keeps only the label it writes; a damaged record is refused.
    put_file("rec1", earlier_record(new_label));
    const image_run earlier = image({"show", path("rec1")});
    EXPECT_EQ(0, earlier.status) << earlier.err;
    EXPECT_NE(NPOS, earlier.out.find("format ELABPWR1\n\nwritten:")) << earlier.out;
    EXPECT_NE(NPOS, earlier.out.find("\nreplaced: not kept by this earlier format\n"));
    EXPECT_EQ(2, image({"extract", "--replaced", "-o", path("x.bin"), path("rec1")}).status);
    ASSERT_EQ(0, image({"extract", "-o", path("w1.bin"), path("rec1")}).status);
    EXPECT_EQ(new_label, file("w1.bin"));
    auto damaged = record;
    damaged[100] ^= 1;
    put_file("bad", damaged);
    for (const auto &args : {std::vector<std::string>{"show", path("bad")},
                             {"extract", "-o", path("x.bin"), path("bad")}}) {
        const image_run r = image(args);
        EXPECT_EQ(1, r.status) << args[0];
        EXPECT_NE(NPOS, r.err.find("(ELABPWR3), damaged: checksum mismatch")) << r.err;
    }
    EXPECT_NE(0, access(path("x.bin").c_str(), F_OK));
}

TEST_F(ImageTest, ProgramNamesARecordItCouldNotSettle)
{
    put_label(make_label({{0x30, "old"}}));
    put_file("new.bin", make_label({{0x30, "new"}}));
    put_file("other.bin", make_label({{0x30, "other"}}));
    ASSERT_EQ(-1, image({"program", path("new.bin")}, {{"QUELLIX_SIM_SIGNAL_AFTER_PAGES", "3"}})
                      .status);
    const auto cut = device();
    // A read-only record directory: the cut cannot be finished under a record of its own.
    ASSERT_EQ(0, mount(ELABEL_RECORD_DIR, ELABEL_RECORD_DIR, nullptr, MS_BIND, nullptr));
    ASSERT_EQ(0, mount(nullptr, ELABEL_RECORD_DIR, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                       nullptr));
    const image_run r = image({"program", path("other.bin")});
    umount(ELABEL_RECORD_DIR);
    EXPECT_EQ(3, r.status);
    EXPECT_EQ(0u, r.err.find("elabel-image: " + path("other.bin") +
                             ": not programmed: an unfinished write-back is pending (record " +
                             RECORD_FILE + ": "))
        << r.err;
    EXPECT_EQ(std::string::npos, r.err.find("transfer")) << r.err;
    EXPECT_EQ(cut, device());
}

} // namespace
