// A user who may not open the lock file reads the label as last published,
// never the board, and is told it lacks permission, never that the bus is busy.
#include <sys/stat.h>

#include <regex>

#include "harness.h"

class PublishE2e : public E2eTest {
protected:
    run_result as_nobody(const std::vector<std::string> &args)
    {
        run_as_ = 65534;
        run_result r = run(args);
        run_as_ = -1;
        return r;
    }
};

TEST_F(PublishE2e, UserWithoutTheLockReadsThePublishedCopyOrIsToldItLacksPermission)
{
    if (!can_run_as_other_user()) {
        GTEST_SKIP() << "needs root to run the tool as another user";
    }
    ASSERT_EQ(0, chmod(dir_.c_str(), 0777));  // the other user's log lines land here
    capture_err_ = true;
    put_label(make_label({{0x30, "ACME"}}));
    const std::string denied = "cannot open the lock file " + std::string(LOCK_FILE) +
                               ": Permission denied";
    const std::string none = "elabel: " + denied + " (reading the board needs root); no "
                             "published copy of the label either: /run/elabel/label.bin: No "
                             "such file or directory\n";
    const std::regex told("elabel: the published copy /run/elabel/label.bin, read "
                          "20[0-9-]{8}T[0-9:]{8}Z \\(" + denied + "\\)\n");
    const struct {
        bool published;
        std::vector<std::string> args;
        std::string out;
        int status;
    } cases[] = {
        {false, {"getall"}, "", 255},
        {false, {"get", "30"}, "", 255},
        {false, {"set", "0x30", "X"}, "[elabel_set] elabel init error.\r\n", 255},  // not 248
        {true, {"getall"}, "", 0},  // root's listing
        {true, {"get", "31"}, "[elabel_data] Widget\r\n", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        if (c.published && label() == make_label({{0x30, "ACME"}})) {
            ASSERT_EQ(0, run({"set", "0x31", "Widget"}).status);
        }
        const auto device_before = device();
        const run_result r = as_nobody(c.args);
        EXPECT_EQ(c.out.empty() && c.published ? run({"getall"}).out : c.out, r.out);
        EXPECT_EQ(c.status, r.status);
        if (c.published) {
            EXPECT_TRUE(std::regex_match(r.err, told)) << r.err;
        } else {
            EXPECT_EQ(c.args[0] == "set" ? "elabel: " + denied + "\n" : none, r.err);
        }
        EXPECT_EQ(device_before, device());
    }
}
