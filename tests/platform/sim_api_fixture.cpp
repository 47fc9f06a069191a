#include "sim_api_fixture.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

namespace simapi {

namespace {

const char *const SIM_VARIABLES[] = {
    "QUELLIX_SIM_IMAGE",       "QUELLIX_SIM_FAIL_READ",        "QUELLIX_SIM_FAIL_WRITE",
    "QUELLIX_SIM_STALL_AFTER_READ", "QUELLIX_SIM_STALL_FILE",  "QUELLIX_SIM_BUS_HZ",
    "QUELLIX_SIM_TWR_US",      "QUELLIX_SIM_ADAPTER",          "QUELLIX_SIM_MAX_MSG",
    "QUELLIX_SIM_SHORT_COUNT", "QUELLIX_SIM_STATS",            "QUELLIX_SIM_WRITE_PROTECT",
    "QUELLIX_SIM_SIGNAL_AFTER_PAGES", "QUELLIX_SIM_SIGNAL",   "QUELLIX_SIM_TORN_BYTES",
    "QUELLIX_SIM_FAIL_READ_AFTER_WRITE", "QUELLIX_SIM_STUCK_BYTE",
};

} // namespace

void reporter::operator()(int64_t value)
{
    if (write(fd_, &value, sizeof value) != sizeof value) {
        _exit(120);
    }
}

void reporter::bytes(const std::vector<uint8_t> &data)
{
    for (uint8_t b : data) {
        (*this)(b);
    }
}

child start_child(const env_map &env, const std::function<void(reporter &)> &body)
{
    int fds[2];
    if (pipe(fds) != 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // Descriptors of the test (a held lock among them) stay with the test.
        for (int fd = 3; fd < 1024; ++fd) {
            if (fd != fds[1]) {
                close(fd);
            }
        }
        for (const char *name : SIM_VARIABLES) {
            unsetenv(name);
        }
        for (const auto &[name, value] : env) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        reporter report(fds[1]);
        body(report);
        _exit(0);
    }
    close(fds[1]);
    return child{pid, fds[0]};
}

std::vector<int64_t> finish_child(const child &c)
{
    std::vector<int64_t> values;
    int64_t v = 0;
    while (read(c.out, &v, sizeof v) == static_cast<ssize_t>(sizeof v)) {
        values.push_back(v);
    }
    close(c.out);
    int status = -1;
    waitpid(c.pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    return values;
}

std::vector<int64_t> in_child(const env_map &env, const std::function<void(reporter &)> &body)
{
    return finish_child(start_child(env, body));
}

std::vector<uint8_t> pattern(size_t n, uint8_t first)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = static_cast<uint8_t>(first + i * 13);
    }
    return v;
}

int32_t get(uint64_t offset, std::vector<uint8_t> *buffer)
{
    return driver_i2c_get_data(DEVICE, ADDRESS, offset, buffer->data(),
                               static_cast<uint32_t>(buffer->size()));
}

int32_t set(uint64_t offset, std::vector<uint8_t> data)
{
    return driver_i2c_set_data(DEVICE, ADDRESS, offset, data.data(),
                               static_cast<uint32_t>(data.size()));
}

std::vector<std::string> lines_of(const std::string &path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

int64_t field(const std::string &line, const std::string &key)
{
    const std::string needle = " " + key + "=";
    const std::string padded = " " + line;
    const size_t at = padded.find(needle);
    return at == std::string::npos ? -1 : std::atoll(padded.c_str() + at + needle.size());
}

void SimApi::SetUp()
{
    char tmpl[] = "/tmp/quellix-api-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir = tmpl;
    image = dir + "/eeprom.bin";
}

void SimApi::TearDown()
{
    const std::string cmd = "rm -rf '" + dir + "'";
    EXPECT_EQ(0, std::system(cmd.c_str()));
}

env_map SimApi::with_image(env_map extra) const
{
    extra["QUELLIX_SIM_IMAGE"] = image;
    return extra;
}

std::vector<uint8_t> SimApi::image_bytes() const
{
    std::ifstream in(image, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool SimApi::exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

} // namespace simapi
