// A user who may not open the lock file reads the label as last published,
// never the board, and is told it lacks permission, never that the bus is busy.
#include <sys/stat.h>

#include <ctime>

#include "harness.h"

namespace {

constexpr int NOBODY = 65534;
const std::string PUBLISHED = "/run/elabel/label.bin";
const std::string NO_PERMISSION =
    "cannot open the lock file " + std::string(LOCK_FILE) + ": Permission denied";

std::string utc(time_t at)
{
    struct tm tm {};
    char text[32] = "";
    gmtime_r(&at, &tm);
    std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

unsigned mode_of(const std::string &path, time_t *mtime = nullptr)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return 0;
    }
    if (mtime != nullptr) {
        *mtime = st.st_mtime;
    }
    return st.st_mode & 07777;
}

} // namespace

class PublishE2e : public E2eTest {
protected:
    void SetUp() override
    {
        E2eTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        if (!can_run_as_other_user()) {
            GTEST_SKIP() << "needs root to run the tool as another user";
        }
        ASSERT_EQ(0, chmod(dir_.c_str(), 0777));  // the other user's log lines land here
        capture_err_ = true;
        put_label(make_label({{0x30, "ACME"}}));
    }
    run_result as_nobody(const std::vector<std::string> &args)
    {
        run_as_ = NOBODY;
        run_result r = run(args);
        run_as_ = -1;
        return r;
    }
};

TEST_F(PublishE2e, UserWithoutTheLockReadsThePublishedCopy)
{
    ASSERT_EQ(0, run({"set", "0x31", "Widget"}).status);
    const std::string board = run({"getall"}).out;
    time_t read_at = 0;
    EXPECT_EQ(0644u, mode_of(PUBLISHED, &read_at));
    EXPECT_EQ(0644u, mode_of("/run/elabel/label.json"));
    EXPECT_EQ(0755u, mode_of("/run/elabel"));
    const std::string told = "elabel: the published copy " + PUBLISHED + ", read " +
                             utc(read_at) + " (" + NO_PERMISSION + ")\n";
    const auto device_before = device();
    const struct {
        std::vector<std::string> args;
        std::string out;
        int status;
    } cases[] = {
        {{"getall"}, board, 0},
        {{"get", "31"}, "[elabel_data] Widget\r\n", 0},
        {{"get", "0x30"}, "[elabel_data] ACME\r\n", 0},
        {{"get", "99"}, "[elabel_read] error.\r\n" + std::string(USAGE), 255},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
        const run_result r = as_nobody(c.args);
        EXPECT_EQ(c.out, r.out);
        EXPECT_EQ(told, r.err);
        EXPECT_EQ(c.status, r.status);
        for (const std::string &line : r.messages()) {  // no load was tried
            EXPECT_EQ(std::string::npos, line.find("lock")) << line;
            EXPECT_EQ(std::string::npos, line.find("init")) << line;
        }
    }
    EXPECT_EQ(device_before, device());
}

TEST_F(PublishE2e, UserWithoutTheLockIsToldItLacksPermission)
{
    const std::string none = "elabel: " + NO_PERMISSION +
                             " (reading the board needs root); no published copy of the label "
                             "either: " + PUBLISHED + ": No such file or directory\n";
    const struct {
        std::vector<std::string> args;
        std::string out, err;
    } cases[] = {
        {{"getall"}, "", none},
        {{"get", "30"}, "", none},
        {{"set", "0x30", "X"}, "[elabel_set] elabel init error.\r\n",
         "elabel: " + NO_PERMISSION + "\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0]);
        const run_result r = as_nobody(c.args);
        EXPECT_EQ(c.out, r.out);
        EXPECT_EQ(c.err, r.err);
        EXPECT_EQ(255, r.status);  // never 248, bus busy
    }
    EXPECT_EQ(make_label({{0x30, "ACME"}}), label());
}
