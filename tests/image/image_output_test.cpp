// Output paths, JSON documents read back, diff, one item and several files.
#include "image_fixture.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <fstream>

namespace {

struct stat_of {
    bool exists;
    struct stat st;
};

stat_of lstat_of(const std::string &path)
{
    stat_of s{};
    s.exists = lstat(path.c_str(), &s.st) == 0;
    return s;
}

TEST_F(ImageTest, OutputReplacesOnlyARegularFileAndKeepsItsModeAndOwner)
{
    const auto label = make_label({{0x30, "ACME"}});
    put_file("old.bin", {1, 2, 3});
    ASSERT_EQ(0, chmod(path("old.bin").c_str(), 0600));
    put_file("setid.bin", {1, 2, 3});
    ASSERT_EQ(0, chmod(path("setid.bin").c_str(), 06751));
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(0, chown(path("old.bin").c_str(), 1234, 5678));
        ASSERT_EQ(0, chown(path("setid.bin").c_str(), 1234, 5678));
        ASSERT_EQ(0, chmod(path("setid.bin").c_str(), 06751));  // chown cleared the bits
    }
    ASSERT_EQ(0, symlink("old.bin", path("link.bin").c_str()));
    ASSERT_EQ(0, mkfifo(path("fifo").c_str(), 0600));
    ASSERT_EQ(0, mkdir(path("dir").c_str(), 0700));
    // A device node of its own (like /dev/null), so a fault never replaces the host's.
    const bool device = mknod(path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    const struct {
        std::string out;
        int status;
        std::string err;
        mode_t mode;  // of the file left there; 0: not a regular file
    } cases[] = {
        {path("new.bin"), 0, "", 0644},
        {path("old.bin"), 0, "", 0600},
        {path("setid.bin"), 0, "", 0751},  // never set-user-id or set-group-id
        {path("link.bin"), 2, path("link.bin") + ": is a symbolic link; only a regular file is replaced", 0},
        {path("null"), 2, path("null") + ": is a device; only a regular file is replaced", 0},
        {path("fifo"), 2, path("fifo") + ": is a FIFO; only a regular file is replaced", 0},
        {path("dir"), 2, path("dir") + ": is a directory; only a regular file is replaced", 0},
        {"-", 0, "", 0},
    };
    const mode_t mask = umask(022);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.out);
        if (!device && c.out == path("null")) {
            continue;  // mknod needs root outside a user namespace
        }
        const stat_of before = lstat_of(c.out);
        const image_run r = image({"build", "-o", c.out, "30=ACME"});
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(c.err.empty() ? "" : "elabel-image: " + c.err + "\n", r.err);
        const stat_of after = lstat_of(c.out);
        if (c.out == "-") {
            EXPECT_EQ(std::string(label.begin(), label.end()), r.out);
        } else if (c.mode != 0) {
            EXPECT_EQ(label, file(c.out.substr(dir_.size() + 1)));
            EXPECT_EQ(c.mode, after.st.st_mode & 07777);
            EXPECT_TRUE(S_ISREG(after.st.st_mode));
            EXPECT_EQ(before.exists && root ? 1234u : geteuid(), after.st.st_uid);
        } else {
            EXPECT_EQ(before.st.st_mode, after.st.st_mode);
            EXPECT_EQ(before.st.st_ino, after.st.st_ino);
        }
    }
    umask(mask);
    // A write error (the file size limit, its signal ignored) removes the temporary.
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit limit{1024, 1024};
        signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &limit);
        const image_run r = image({"build", "-o", path("new.bin"), "31=x"});
        _exit(r.status == 2 && r.err.find(": File too large; nothing written") != std::string::npos
                  ? 0
                  : 1);
    }
    int status = -1;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_EQ(0, status);
    EXPECT_EQ(label, file("new.bin"));
    std::vector<std::string> left = {"dir", "fifo", "link.bin", "new.bin", "old.bin", "setid.bin"};
    if (device) {
        left.insert(left.begin() + 4, "null");
    }
    EXPECT_EQ(left, dir_entries(true));  // no temporary file left behind
}

TEST_F(ImageTest, JsonDocumentBuildsTheSameLabelAndTemplatesTakeNamesAndArguments)
{
    const items texts = {{0x10, "R1"}, {0x30, "M\xc3\xbcller \"&\" \\"}, {0x31, "caf\xe9"},
                         {0x50, std::string(267, 'x')}};
    put_file("a.bin", make_label(texts));
    const image_run shown = image({"show", "--json", path("a.bin")});
    ASSERT_EQ(0, shown.status);
    EXPECT_NE(std::string::npos, shown.out.find("\"text\": \"M\xc3\xbc" "ller \\\"&\\\" \\\\\""));
    EXPECT_NE(std::string::npos, shown.out.find("\"hex\": \"636166e9\", \"text\": null"));
    std::ofstream(path("a.json"), std::ios::binary) << shown.out;

    // From a file and from standard input, as in show --json a.bin | build --json - -o b.bin.
    ASSERT_EQ(0, image({"build", "--json", path("a.json"), "-o", path("b.bin")}).status);
    EXPECT_EQ(make_label(texts), file("b.bin"));
    stdin_path_ = path("a.json");
    const image_run piped = image({"build", "--json", "-", "-o", "-"});
    stdin_path_.clear();
    EXPECT_EQ(0, piped.status) << piped.err;
    const auto built = file("b.bin");
    EXPECT_EQ(std::string(built.begin(), built.end()), piped.out);

    // A template names items by id or name; the command line adds and overrides.
    std::ofstream(path("t.json")) << R"({"items": [{"name": "prd_manufacture", "text": "ACME"},
        {"id_hex": "0x23", "text": "TEMPLATE"}, {"id": 16, "id_hex": "0x10", "hex": "5231"}]})";
    ASSERT_EQ(0, image({"build", "--json", path("t.json"), "-o", path("t.bin"), "23=BS0001"}).status);
    EXPECT_EQ(make_label({{0x10, "R1"}, {0x23, "BS0001"}, {0x30, "ACME"}}), file("t.bin"));

    // A template leaves out each board's own items; --require takes each board's (refusals
    // are in the table of errors).
    put_file("first.bin", make_label({{0x12, "CS1"}, {0x20, "2026-12-08"}, {0x23, "BS1"},
                                      {0x30, "ACME"}, {0x34, "PS1"}, {0x35, "AT1"}, {0x63, "SS1"}}));
    EXPECT_EQ("elabel-label 1 0 1162625346 True True 20 template", json_lines("first.bin", true).at(0));
    std::ofstream(path("p.json"), std::ios::binary)
        << image({"show", "--json", "--template", path("first.bin")}).out;
    ASSERT_EQ(0, image({"build", "--json", path("p.json"), "--require", "12,bd_serial_num", "-o",
                        path("next.bin"), "12=CS2", "23=BS2"}).status);
    EXPECT_EQ(make_label({{0x12, "CS2"}, {0x23, "BS2"}, {0x30, "ACME"}}), file("next.bin"));
}

TEST_F(ImageTest, JsonDocumentsThatCannotBuildALabelAreRefused)
{
    const struct {
        const char *doc;
        const char *err;
    } cases[] = {
        {"", "not a JSON document (unexpected end"},
        {"{\"items\": []} x", "not a JSON document"},
        {"[]", "the document is not a JSON object"},
        {"{\"version\": 2, \"items\": []}", "\"version\" is not 1"},
        {"{\"version\": 0, \"items\": []}", "\"version\" is not 1"},
        {"{\"format\": \"other\", \"items\": []}", "\"format\" is not \"elabel-label\""},
        {"{\"item\": []}", "no \"items\" array"},
        {"{\"items\": [{\"name\": \"prd_name\", \"id\": 48, \"text\": \"x\"}]}",
         "items[0]: \"id\" names item 0x30, another field item 0x31"},
        {"{\"items\": [{\"id\": 32, \"id_hex\": \"0x32\", \"text\": \"x\"}]}",
         "items[0]: \"id\" names item 0x20, another field item 0x32"},
        {"{\"items\": [{\"id\": \"48\", \"text\": \"x\"}]}", "items[0]: \"id\": \"48\" names no item"},
        {"{\"items\": [{\"text\": \"x\"}]}", "items[0]: no \"id_hex\", \"name\" or \"id\""},
        {"{\"items\": [{\"name\": \"prd_name\"}]}", "items[0]: no \"text\" string and no \"hex\" string"},
        {"{\"items\": [{\"name\": \"prd_name\", \"text\": null, \"hex\": \"4\"}]}",
         "\"hex\" is not an even number of hexadecimal digits"},
        {"{\"items\": [{\"name\": \"prd_name\", \"text\": \"a\\r\"}]}",
         "items[0]: item 0x31 (prd_name): control byte 0x0d at byte 1 of the text"},
        {"{\"items\": [{\"name\": \"prd_name\", \"text\": \"a\"}, {\"id\": 49, \"text\": \"b\"}]}",
         "items[1]: item 0x31 (prd_name) given twice"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.doc);
        std::ofstream(path("d.json"), std::ios::binary | std::ios::trunc) << c.doc;
        const image_run r = image({"build", "--json", path("d.json"), "-o", path("out.bin")});
        EXPECT_EQ(2, r.status);
        EXPECT_NE(std::string::npos, r.err.find(path("d.json") + ": ")) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(c.err)) << r.err;
        EXPECT_EQ(std::vector<std::string>{"d.json"}, dir_entries(true));
    }
}

TEST_F(ImageTest, DiffShowItemAndCheckOfSeveralFiles)
{
    const auto good = make_label({{0x30, "ACME"}, {0x31, "name"}});
    auto damaged = make_label({{0x30, "ACNE"}, {0x31, "name"}});
    damaged[660 + 4] = 'N';  // prd_name's checksum no longer matches
    auto stale = good;
    stale[588 + 4 + 10] = 'x';  // after prd_manufacture's text
    put_file("a.bin", good);
    put_file("b.bin", damaged);
    put_file("stale.bin", stale);
    damaged[3] = 0;
    put_file("two.bin", damaged);
    auto magic = good;
    magic[0] = 0x43;
    put_file("magic.bin", magic);
    put_file("blank.bin", std::vector<uint8_t>(LABEL_LEN, 0xFF));
    put_label(good);
    const struct {
        std::vector<std::string> args;
        std::map<std::string, std::string> env;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {{"diff", path("a.bin"), path("a.bin")}, {}, 0, "", ""},
        {{"diff", path("a.bin"), "board"}, {}, 0, "", ""},
        {{"diff", path("a.bin"), path("b.bin")}, {}, 1,
         "0x30  prd_manufacture     \"ACME\"  \"ACNE\"\n"
         "0x31  prd_name            \"name\"  \"Name\" (checksum-mismatch)\n", ""},
        {{"diff", path("stale.bin"), "board"}, {}, 1,
         "0x30  prd_manufacture     \"ACME\"  \"ACME\"  (stored bytes after the text differ)\n", ""},
        {{"diff", path("a.bin"), path("magic.bin")}, {}, 1, "magic  0x454c4142  0x454c4143\n", ""},
        {{"diff", "board", path("blank.bin")}, {}, 1,
         "label  magic 0x454c4142  blank (all 2360 bytes 0xff)\n", ""},
        {{"diff", path("blank.bin"), path("blank.bin")}, {}, 0, "", ""},
        {{"diff", "board", path("none.bin")}, {}, 2, "", "none.bin: No such file or directory"},
        {{"diff", path("a.bin"), "board"}, {{"QUELLIX_SIM_FAIL_READ", "all"}}, 3, "",
         "reading /dev/i2c-8 failed: the transfer failed; the system log has the details"},
        {{"show", "--item", "prd_name", path("b.bin")}, {}, 0,
         "0x31  prd_name            checksum-mismatch            4  \"Name\"\n", ""},
        {{"show", "--item", "0x30", "--raw", path("b.bin")}, {}, 0, "ACNE", ""},
        {{"show", "--item", "31", "--raw", path("b.bin")}, {}, 1, "",
         "item 0x31 (prd_name): checksum-mismatch; its bytes are not printed"},
        {{"check", path("a.bin"), path("b.bin"), path("none.bin")}, {}, 2, "",
         "b.bin: item 0x31 (prd_name): checksum 0x"},
        {{"check", path("a.bin"), path("two.bin")}, {}, 1, "",
         "two.bin: magic 0x004c4142 is not 0x454c4142 (and 1 more problem)\n"},
        {{"check", path("a.bin"), path("a.bin")}, {}, 0, "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args.back());
        const image_run r = image(c.args, c.env);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(c.out, r.out);
        if (c.err.empty()) {
            EXPECT_EQ("", r.err);
        } else {
            EXPECT_NE(std::string::npos, r.err.find(c.err)) << r.err;
        }
    }
    EXPECT_EQ(good, label());  // diff board neither repairs nor writes
}

} // namespace
