// Output files on the store's fake platform: whichever file call fails, the
// file it replaces stays as it was and no temporary file is left.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "fake_platform.h"
#include "image_tool.h"

namespace {

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

int entries(const std::string &dir)
{
    int n = 0;
    DIR *d = opendir(dir.c_str());
    for (const dirent *e = d != nullptr ? readdir(d) : nullptr; e != nullptr; e = readdir(d)) {
        n += e->d_name[0] != '.' || e->d_name[1] > '.';  // not . or ..
    }
    if (d != nullptr) {
        closedir(d);
    }
    return n;
}

using ImageOutputTest = StoreTest;

TEST_F(ImageOutputTest, AFailedFileCallLeavesTheOldFileAndNoTemporaryFile)
{
    const std::string dir = fake::g.record_dir;
    ASSERT_EQ(0, mkdir(dir.c_str(), 0700));
    const std::string out = dir + "/out.bin";
    const uint8_t bytes[] = {1, 2, 3, 4};
    for (const char *call : {"lstat", "open", "write", "fchmod", "fsync", "close", "rename"}) {
        SCOPED_TRACE(call);
        std::ofstream(out, std::ios::binary | std::ios::trunc) << "old";
        ASSERT_EQ(0, chmod(out.c_str(), 0640));
        fake::g.file_faults = {{call, EIO}};
        EXPECT_EQ(IMAGE_USAGE, image_write_output(out.c_str(), bytes, sizeof(bytes)));
        EXPECT_EQ("old", slurp(out));
        EXPECT_EQ(1, entries(dir));
    }
    fake::g.file_faults.clear();
    EXPECT_EQ(IMAGE_OK, image_write_output(out.c_str(), bytes, sizeof(bytes)));
    EXPECT_EQ(std::string("\1\2\3\4"), slurp(out));
    struct stat st {};
    ASSERT_EQ(0, stat(out.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
}

} // namespace
