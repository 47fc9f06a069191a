// The published label: renewed by a write-back that read back as written and
// by a publish of the board, never by a failed write-back or a clear, replaced
// whole, readable by everyone, and read back for a user without the lock.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>

#include "elabel_platform.h"
#include "elabel_publish.h"
#include "elabel_record.h"
#include "fake_platform.h"

using fake::g;
using Bytes = std::vector<uint8_t>;

namespace {

const Bytes OLD_LABEL = fake::make_image({{0x30, "old"}});
const Bytes NEW_LABEL = fake::make_image({{0x30, "ACME"}});

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string as_text(const Bytes &bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

unsigned mode_of(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::vector<std::string> entries(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (const dirent *e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

class PublishTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        dir_ = g.record_dir + "-published";
        elabel_platform.publish_dir = dir_.c_str();
        umask_ = umask(077);  // the modes must not depend on the caller's umask
        fake::put_label(OLD_LABEL);
    }
    void TearDown() override
    {
        umask(umask_);
        StoreTest::TearDown();
    }
    std::string published() const { return read_file(dir_ + "/label.bin"); }

    std::string dir_;
    mode_t umask_ = 0;
};

TEST_F(PublishTest, WriteBackPublishesTheLabelAndItsDocumentForEveryone)
{
    ASSERT_EQ(0, driver_elabel_init());
    ASSERT_EQ(0, set_data_to_elabel_mem(0x30, "ACME"));
    ASSERT_EQ(0, driver_elabel_update());
    EXPECT_EQ(as_text(NEW_LABEL), published());
    const std::string json = read_file(dir_ + "/label.json");
    for (const char *part : {"\"offset\": 512,", "\"valid\": true,", "\"text\": \"ACME\"}"}) {
        EXPECT_NE(std::string::npos, json.find(part)) << part;
    }
    EXPECT_EQ(0755u, mode_of(dir_));
    EXPECT_EQ(0644u, mode_of(dir_ + "/label.bin"));
    EXPECT_EQ(0644u, mode_of(dir_ + "/label.json"));
    EXPECT_EQ((std::vector<std::string>{"label.bin", "label.json"}), entries(dir_));  // no temporary
}

TEST_F(PublishTest, OnlyALabelReadBackAsWrittenIsPublished)
{
    const struct {
        const char *name;
        void (*fault)();
        int32_t (*run)();
        int32_t ret;
    } cases[] = {
        {"write fails", [] { g.fail_writes = {2, 3, 4}; }, driver_elabel_update, -1},
        {"part drops the writes", [] { g.ignore_writes = true; }, driver_elabel_update, -1},
        {"clear", [] {}, driver_elabel_clear, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fake::install();
        dir_ = g.record_dir + "-published";
        elabel_platform.publish_dir = dir_.c_str();
        fake::put_label(OLD_LABEL);
        ASSERT_EQ(0, elabel_publish(OLD_LABEL.data()));
        ASSERT_EQ(0, driver_elabel_init());
        ASSERT_EQ(0, set_data_to_elabel_mem(0x30, "ACME"));
        c.fault();
        EXPECT_EQ(c.ret, c.run());
        EXPECT_EQ(as_text(OLD_LABEL), published());
        driver_elabel_release();
    }
}

TEST_F(PublishTest, CopyIsReplacedWholeAndOneThatCannotBeRenewedIsRemoved)
{
    ASSERT_EQ(0, elabel_publish(OLD_LABEL.data()));
    std::ifstream reader(dir_ + "/label.bin", std::ios::binary);  // open across the renewal
    ASSERT_EQ(0, elabel_publish(NEW_LABEL.data()));
    EXPECT_EQ(as_text(OLD_LABEL), std::string(std::istreambuf_iterator<char>(reader), {}));
    EXPECT_EQ(as_text(NEW_LABEL), published());

    g.file_faults["rename"] = EIO;
    EXPECT_EQ(-1, elabel_publish(OLD_LABEL.data()));
    EXPECT_EQ(std::vector<std::string>{}, entries(dir_));  // no stale copy, no temporary
    EXPECT_EQ("elabel_publish|label not published in " + dir_ + ": Input/output error\n",
              fake::messages().back());
}

TEST_F(PublishTest, PublishedCopyLoadsAsALoadWouldShowIt)
{
    const size_t block = fake::item_of(0x30).offset;
    Bytes damaged = NEW_LABEL;
    damaged[block + 5] ^= 1;  // checksum no longer matches
    Bytes reset = damaged;    // as a load resets it: empty text at the field's start
    reset[block + 4] = 0;
    fake::put_le16(reset, block, 0);
    fake::put_le16(reset, block + 2, 0);
    const struct {
        const char *name;
        std::string file;  // "" none
        int ret;
        Bytes image;
    } cases[] = {
        {"valid", as_text(NEW_LABEL), 0, NEW_LABEL},
        {"damaged item", as_text(damaged), 0, reset},
        {"too short", as_text(NEW_LABEL).substr(1), -EINVAL, {}},
        {"too long", as_text(NEW_LABEL) + "x", -EINVAL, {}},
        {"none", "", -ENOENT, {}},
    };
    ASSERT_EQ(0, mkdir(dir_.c_str(), 0755));
    const std::string path = dir_ + "/label.bin";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        unlink(path.c_str());
        if (!c.file.empty()) {
            std::ofstream(path, std::ios::binary) << c.file;
        }
        time_t read_at = 0;
        EXPECT_EQ(c.ret, elabel_load_published(&read_at));
        EXPECT_EQ(c.image, fake::current_image());
        struct stat st {};
        EXPECT_EQ(c.ret == 0 ? (stat(path.c_str(), &st), st.st_mtime) : 0, read_at);
        driver_elabel_release();
    }
    EXPECT_EQ(0, g.reads);  // never the board
}

TEST_F(PublishTest, PublishingTheBoardWaitsForAPendingWriteBack)
{
    EXPECT_EQ(elabel_publish_result::published, elabel_publish_board());
    EXPECT_EQ(as_text(OLD_LABEL), published());
    fake::put_label(NEW_LABEL);
    ASSERT_EQ(0, elabel_record_store(NEW_LABEL.data(), OLD_LABEL.data(), false));
    EXPECT_EQ(elabel_publish_result::pending, elabel_publish_board());
    ASSERT_EQ(0, elabel_record_remove());
    g.lock_busy = true;
    EXPECT_EQ(elabel_publish_result::busy, elabel_publish_board());
    g.lock_busy = false;
    g.fail_every_read = true;
    EXPECT_EQ(elabel_publish_result::unread, elabel_publish_board());
    EXPECT_EQ(as_text(OLD_LABEL), published());  // none of them published
}
