#include "image_fixture.h"

#include <regex>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

} // namespace

image_run ImageTest::image(const std::vector<std::string> &args,
                           const std::map<std::string, std::string> &env)
{
    // The child inherits standard error: point it at a file for the run.
    const std::string err_path = dir_ + "/.stderr";
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(fd, STDERR_FILENO);
    close(fd);
    run_result r = run(args, env);
    dup2(saved, STDERR_FILENO);
    close(saved);
    image_run result{r.out, slurp(err_path), r.status, r.log};
    unlink(err_path.c_str());
    return result;
}

void ImageTest::put_file(const std::string &name, const std::vector<uint8_t> &bytes) const
{
    std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ImageTest::file(const std::string &name) const
{
    const std::string bytes = slurp(path(name));
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::vector<std::string> ImageTest::dir_entries(bool hidden) const
{
    std::vector<std::string> names;
    DIR *dir = opendir(dir_.c_str());
    for (const dirent *e = dir != nullptr ? readdir(dir) : nullptr; e != nullptr; e = readdir(dir)) {
        const std::string name = e->d_name;
        const bool shown = hidden ? name != "." && name != ".." : name[0] != '.';
        if (shown && name.rfind("log.", 0) != 0) {
            names.push_back(name);
        }
    }
    if (dir != nullptr) {
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ImageTest::json_lines(const std::string &name, bool template_form)
{
    std::vector<std::string> args = {"show", "--json", path(name)};
    if (template_form) {
        args.insert(args.begin() + 2, "--template");
    }
    const image_run r = image(args);
    EXPECT_EQ("", r.err);
    const std::string json = dir_ + "/.json";
    const std::string lines = dir_ + "/.lines";
    std::ofstream(json, std::ios::binary) << r.out;
    const std::string cmd =
        "python3 '" JSON_ITEMS_SCRIPT "' '" + json + "' '" JSON_SCHEMA "' > '" + lines + "'";
    EXPECT_EQ(0, std::system(cmd.c_str())) << r.out;
    std::vector<std::string> out;
    std::istringstream in(slurp(lines));
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    unlink(json.c_str());
    unlink(lines.c_str());
    return out;
}

void put_le16(std::vector<uint8_t> *label, size_t at, uint16_t value)
{
    (*label)[at] = static_cast<uint8_t>(value);
    (*label)[at + 1] = static_cast<uint8_t>(value >> 8);
}

std::string untimed(const std::string &out)
{
    return std::regex_replace(out, std::regex(R"(\([0-9]+\.[0-9]{2} s\)\n)"), "(T s)\n");
}
