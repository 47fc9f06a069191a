// program and recover in process, on the store's fake platform, with a record
// directory that refuses changes: what they say matches what they did.
#include <cerrno>
#include <fstream>
#include <string>

#include "elabel_record.h"
#include "fake_platform.h"
#include "image_tool.h"

using fake::g;
using BoardWriteTest = StoreTest;

namespace {

std::string put_file(const std::vector<uint8_t> &bytes)
{
    const std::string path = g.record_dir + "-new.bin";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), static_cast<long>(bytes.size()));
    return path;
}

int program(const std::string &path, std::string *err)
{
    char *args[] = {const_cast<char *>(path.c_str()), nullptr};
    image_options opt{};
    opt.offset = -1;
    opt.eeprom_size = -1;
    opt.args = args;
    opt.nargs = 1;
    testing::internal::CaptureStderr();
    const int ret = image_program_run(opt);
    *err = testing::internal::GetCapturedStderr();
    return ret;
}

} // namespace

// A write-back that could not store its record still runs, and says so.
TEST_F(BoardWriteTest, WrittenWithoutARecordSaysSo)
{
    const auto label = fake::make_image({{0x30, "new"}});
    fake::put_label(fake::make_image({{0x30, "old"}}));
    g.file_faults = {{"mkdir", EROFS}};
    std::string err;
    EXPECT_EQ(IMAGE_OK, program(put_file(label), &err));
    EXPECT_EQ(label, fake::label());
    EXPECT_NE(std::string::npos, err.find("without a pending-write record")) << err;
}

// A write that fails after the erase leaves its record, and program says so.
TEST_F(BoardWriteTest, FailedTransferSaysTheRecordStays)
{
    fake::put_label(fake::make_image({{0x30, "old"}}));
    g.fail_writes = {2, 3, 4};  // the erase goes through, every write attempt fails
    std::string err;
    EXPECT_EQ(IMAGE_DEVICE, program(put_file(fake::make_image({{0x30, "new"}})), &err));
    EXPECT_TRUE(fake::record_exists());
    EXPECT_NE(std::string::npos,
              err.find(": the pending-write record " + fake::record_path() + " stays (")) << err;
    EXPECT_NE(std::string::npos, err.find("'elabel-image recover' finishes it\n")) << err;
}
