// recover in process, on the store's fake platform.
#include <cerrno>

#include "elabel_record.h"
#include "fake_platform.h"
#include "image_tool.h"

using fake::g;
using RecoverTest = StoreTest;

// A record that cannot be read says nothing about the board: it stays, exit 2.
TEST_F(RecoverTest, RecordItCannotReadIsKept)
{
    const std::vector<uint8_t> label = fake::make_image({{0x30, "new"}});
    fake::put_label(std::vector<uint8_t>(ELABEL_DATA_LEN, 0));  // what its erase pass left
    for (const char *call : {"open", "read"}) {
        ASSERT_EQ(0, elabel_record_store(label.data(), fake::make_image().data(), false));
        g.file_faults = {{call, EIO}};
        testing::internal::CaptureStderr();
        EXPECT_EQ(IMAGE_USAGE, image_recover_run(image_options{})) << call;
        const std::string err = testing::internal::GetCapturedStderr();
        g.file_faults.clear();
        EXPECT_TRUE(fake::record_exists()) << call;
        EXPECT_NE(std::string::npos, err.find(" could not be read; it stays")) << err;
    }
    EXPECT_EQ(0, g.writes);
}
