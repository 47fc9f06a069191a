// The published label: renewed only by a write-back that read back as written
// or a publish of the board, replaced whole, readable by everyone, and read
// back for a user without the lock.
#include <sys/stat.h>
#include <unistd.h>

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

std::string text(const Bytes &bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

unsigned mode_of(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

class PublishTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        use_fresh_dir();
    }
    void use_fresh_dir()
    {
        dir_ = g.record_dir + "-published";
        elabel_platform.publish_dir = dir_.c_str();
        fake::put_label(OLD_LABEL);
    }
    std::string published(const char *name = "label.bin") const
    {
        return read_file(dir_ + "/" + name);
    }

    std::string dir_;
};

TEST_F(PublishTest, WriteBackPublishesTheLabelAndItsDocumentForEveryone)
{
    ASSERT_EQ(0, driver_elabel_init());
    ASSERT_EQ(0, set_data_to_elabel_mem(0x30, "ACME"));
    const mode_t umask_was = umask(077);  // the modes must not depend on the caller's umask
    ASSERT_EQ(0, driver_elabel_update());
    umask(umask_was);
    EXPECT_EQ(text(NEW_LABEL), published());
    for (const char *part : {"\"offset\": 512,", "\"valid\": true,", "\"text\": \"ACME\"}"}) {
        EXPECT_NE(std::string::npos, published("label.json").find(part)) << part;
    }
    const std::vector<unsigned> modes = {mode_of(dir_), mode_of(dir_ + "/label.bin"),
                                         mode_of(dir_ + "/label.json"),
                                         mode_of(dir_ + "/.label.bin.tmp")};
    EXPECT_EQ((std::vector<unsigned>{0755, 0644, 0644, 0}), modes);  // and no temporary left
}

TEST_F(PublishTest, OnlyALabelReadBackAsWrittenIsPublished)
{
    const struct {
        void (*fault)();
        int32_t (*run)();
        int32_t ret;
        bool kept;  // the old copy stays: the part still holds that label
    } cases[] = {
        {[] { g.fail_writes = {2, 3, 4}; }, driver_elabel_update, -1, false},  // erased, not written
        {[] { g.ignore_writes = true; }, driver_elabel_update, -1, true},  // a write-protected part
        {[] {}, driver_elabel_clear, 0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        fake::install();
        use_fresh_dir();
        ASSERT_EQ(0, elabel_publish(OLD_LABEL.data()));
        ASSERT_EQ(0, driver_elabel_init());
        ASSERT_EQ(0, set_data_to_elabel_mem(0x30, "ACME"));
        c.fault();
        EXPECT_EQ(c.ret, c.run());
        EXPECT_EQ(c.kept ? text(OLD_LABEL) : "", published());
        driver_elabel_release();
    }
}

TEST_F(PublishTest, CopyIsReplacedWholeAndOneThatCannotBeRenewedIsRemoved)
{
    ASSERT_EQ(0, elabel_publish(OLD_LABEL.data()));
    std::ifstream reader(dir_ + "/label.bin", std::ios::binary);  // open across the renewal
    ASSERT_EQ(0, elabel_publish(NEW_LABEL.data()));
    EXPECT_EQ(text(OLD_LABEL), std::string(std::istreambuf_iterator<char>(reader), {}));
    EXPECT_EQ(text(NEW_LABEL), published());

    g.file_faults["rename"] = EIO;
    EXPECT_EQ(-1, elabel_publish(OLD_LABEL.data()));
    EXPECT_EQ(0u, mode_of(dir_ + "/label.bin") | mode_of(dir_ + "/label.json"));
    EXPECT_EQ("elabel_publish|label not published in " + dir_ + ": Input/output error\n",
              fake::messages().back());
}

TEST_F(PublishTest, PublishedCopyLoadsAsALoadWouldShowIt)
{
    const size_t block = fake::item_of(0x30).offset;
    Bytes damaged = NEW_LABEL;
    damaged[block + 5] ^= 1;  // the checksum no longer matches
    Bytes reset = damaged;    // as a load resets it: the empty text at the field's start
    reset[block + 4] = 0;
    fake::put_le16(reset, block, 0);
    fake::put_le16(reset, block + 2, 0);
    const struct {
        std::string file;
        int ret;
        Bytes image;
    } cases[] = {
        {text(damaged), 0, reset},
        {text(NEW_LABEL).substr(1), -EINVAL, {}},
        {text(NEW_LABEL) + "x", -EINVAL, {}},
    };
    ASSERT_EQ(0, mkdir(dir_.c_str(), 0755));
    const std::string path = dir_ + "/label.bin";
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.file;
        struct stat st {};
        time_t read_at = 0;
        EXPECT_EQ(c.ret, elabel_load_published(&read_at));
        EXPECT_EQ(c.image, fake::current_image());
        EXPECT_EQ(c.ret == 0 && stat(path.c_str(), &st) == 0 ? st.st_mtime : 0, read_at);
        driver_elabel_release();
    }
}

TEST_F(PublishTest, PublishingTheBoardWaitsForAPendingWriteBack)
{
    EXPECT_EQ(elabel_publish_result::published, elabel_publish_board());
    fake::put_label(NEW_LABEL);
    ASSERT_EQ(0, elabel_record_store(NEW_LABEL.data(), OLD_LABEL.data(), false));
    EXPECT_EQ(elabel_publish_result::pending, elabel_publish_board());
    EXPECT_EQ(text(OLD_LABEL), published());
}
