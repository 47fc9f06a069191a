// A fixture for the simulated libquellix.so seen through its three calls. The
// simulator counts calls per process, so each scenario runs in a child process
// with its own environment (every QUELLIX_SIM_ variable cleared first); the
// child reports its results back through a pipe.
#ifndef QUELLIX_TEST_SIM_API_FIXTURE_H
#define QUELLIX_TEST_SIM_API_FIXTURE_H

#include "quellix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace simapi {

constexpr const char *DEVICE = "/dev/i2c-8";
constexpr int8_t ADDRESS = -96; // 0xA0

using env_map = std::map<std::string, std::string>;

// What a child sends back: one number per call.
class reporter {
public:
    explicit reporter(int fd) : fd_(fd) {}
    void operator()(int64_t value);
    void bytes(const std::vector<uint8_t> &data);

private:
    int fd_;
};

struct child {
    pid_t pid = -1;
    int out = -1;
};

child start_child(const env_map &env, const std::function<void(reporter &)> &body);
// Collects what the child reported; fails the test unless it exited cleanly.
std::vector<int64_t> finish_child(const child &c);
std::vector<int64_t> in_child(const env_map &env, const std::function<void(reporter &)> &body);

std::vector<uint8_t> pattern(size_t n, uint8_t first);
int32_t get(uint64_t offset, std::vector<uint8_t> *buffer);
int32_t set(uint64_t offset, std::vector<uint8_t> data);
std::vector<std::string> lines_of(const std::string &path);
// The value of `key=` in a statistics line, or -1.
int64_t field(const std::string &line, const std::string &key);

// A private directory with the image path in it, removed afterwards.
class SimApi : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    env_map with_image(env_map extra = {}) const;
    std::vector<uint8_t> image_bytes() const;
    static bool exists(const std::string &path);

    std::string dir;
    std::string image;
};

} // namespace simapi

#endif
