#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace torvane::test {

// Puts the process in the given time zone ("Europe/Paris", "UTC") and restores the zone it had.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const std::string& zone) {
        if (const char* saved = std::getenv("TZ")) saved_ = saved;
        ::setenv("TZ", zone.c_str(), 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (saved_) {
            ::setenv("TZ", saved_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> saved_;
};

}  // namespace torvane::test
