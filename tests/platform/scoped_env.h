// Sets an environment variable for one scope and puts back what was there.
#ifndef QUELLIX_TEST_SCOPED_ENV_H
#define QUELLIX_TEST_SCOPED_ENV_H

#include <cstdlib>
#include <string>

class scoped_env {
public:
    scoped_env(const char *name, const char *value) : name_(name)
    {
        const char *old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) {
            old_ = old;
        }
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~scoped_env()
    {
        if (had_) {
            setenv(name_.c_str(), old_.c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    scoped_env(const scoped_env &) = delete;
    scoped_env &operator=(const scoped_env &) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

#endif
