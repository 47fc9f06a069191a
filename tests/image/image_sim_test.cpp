// The simulator scripts, run as a person runs them: each simulated board has
// its own lock and record beside its EEPROM file, and the caller's /run and
// record directory (here the test's private ones) are never touched.
#include "image_fixture.h"

#include <unistd.h>

#include <cstdlib>

namespace {

constexpr size_t NPOS = std::string::npos;

class SimScriptTest : public ImageTest {
protected:
    image_run sim(const char *script, const std::string &board, const std::vector<std::string> &args,
                  std::map<std::string, std::string> env = {})
    {
        program_ = std::string(ELABEL_SCRIPTS_DIR "/") + script;
        env.emplace("BUILD_DIR", ELABEL_BUILD_DIR);
        env["QUELLIX_SIM_IMAGE"] = board;
        const image_run r = image(args, env);
        program_.clear();
        return r;
    }
};

TEST_F(SimScriptTest, EachBoardHasItsOwnStateAndANewOneHoldsASampleLabel)
{
    const char *emulator = std::getenv("ELABEL_TEST_EMULATOR");
    if (emulator != nullptr && *emulator != '\0') {
        GTEST_SKIP() << "the scripts run the build's programs natively";
    }
    const std::string a = path("a.bin");
    const std::string b = path("b.bin");
    const image_run sample = sim("elabel-image-sim", a, {"check", "board"});
    EXPECT_EQ(0, sample.status) << sample.err;
    EXPECT_EQ("[elabel_data] BS-SIM-0001\r\n", sim("elabel-sim", a, {"get", "0x23"}).out);
    const image_run blank = sim("elabel-image-sim", b, {"check", "board"}, {{"ELABEL_SIM_BLANK", "1"}});
    EXPECT_EQ(1, blank.status);
    EXPECT_NE(NPOS, blank.err.find("(a blank chip)")) << blank.err;

    // A write-back cut on board a is pending there alone, and elabel finishes it.
    ASSERT_EQ(0, image({"build", "-o", path("new.bin"), "--from", a, "30=new"}).status);
    EXPECT_EQ(-1, sim("elabel-image-sim", a, {"program", path("new.bin")},
                      {{"QUELLIX_SIM_SIGNAL_AFTER_PAGES", "3"}})
                      .status);
    const std::string record_a = a + ".state/elabel/pending-label";
    EXPECT_EQ(0, access(record_a.c_str(), F_OK));
    EXPECT_EQ(0, sim("elabel-image-sim", b, {"dump", "-o", path("b-dump.bin")}).status);
    EXPECT_EQ(5, sim("elabel-image-sim", a, {"dump", "-o", path("a-dump.bin")}).status);
    EXPECT_EQ("[elabel_data] new\r\n", sim("elabel-sim", a, {"get", "0x30"}).out);
    EXPECT_NE(0, access(record_a.c_str(), F_OK));
    EXPECT_EQ(0, access((b + ".state/run/elabel_lock_flag").c_str(), F_OK));

    EXPECT_NE(0, access(LOCK_FILE, F_OK));
    EXPECT_NE(0, access(ELABEL_RECORD_DIR, F_OK));
}

// The scripts never run a program that would reach a real bus, and their own
// failures exit 125: no simulator library, the board's library in its place,
// a state directory that cannot be made.
TEST_F(SimScriptTest, RefusesWithoutTheSimulatorLibraryOrItsState)
{
    if (const char *emulator = std::getenv("ELABEL_TEST_EMULATOR"); emulator && *emulator) {
        GTEST_SKIP() << "the scripts run the build's programs natively";
    }
    const std::string tree = path("tree");
    const std::string copy = "mkdir -p " + tree + "/src/app/elabel " + tree + "/sim && cp " +
                             ELABEL_BUILD_DIR "/src/app/elabel/elabel " + tree + "/src/app/elabel/";
    ASSERT_EQ(0, std::system(copy.c_str()));
    const struct {
        const char *what;
        std::string setup;
        std::string board;
        const char *said;
    } cases[] = {
        {"no simulator library", "true", path("a.bin"), "no simulator library"},
        {"the board's library in its place",
         "cp " ELABEL_BUILD_DIR "/lib/libquellix.so " + tree + "/sim/", path("a.bin"),
         "no simulator library"},
        {"a state directory that cannot be made",
         "cp " ELABEL_BUILD_DIR "/sim/libquellix.so " + tree + "/sim/",
         "/proc/elabel-no-such/eeprom.bin", "cannot make the state directory"},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(0, std::system(c.setup.c_str())) << c.what;
        const image_run r = sim("elabel-sim", c.board, {"getall"}, {{"BUILD_DIR", tree}});
        EXPECT_EQ(125, r.status) << c.what << ": " << r.err;
        EXPECT_NE(NPOS, r.err.find(c.said)) << c.what << ": " << r.err;
        EXPECT_EQ("", r.out) << c.what;
    }
}

} // namespace
