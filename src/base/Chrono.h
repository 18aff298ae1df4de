#pragma once

#include <cstdint>
#include <string>

namespace torvane {

// A race time (elapsed since local midnight of the first race day, hours may pass 23) or,
// for the manual detection dialog only, an absolute time (seconds since 1970 UTC).
class CChrono {
public:
    CChrono() = default;
    CChrono(std::int32_t seconds, std::uint16_t milliseconds)
        : seconds(seconds), milliseconds(milliseconds) {}
    virtual ~CChrono() = default;
    CChrono(const CChrono&) = default;
    CChrono& operator=(const CChrono&) = default;

    void Reset();
    bool IsSet() const;
    void SetNow();

    // h:m:s.f, h.m.s.f, h.m.s or h:m:s; the fraction is read by its digits (two for hundredths,
    // a third for thousandths). Negative numbers are refused. Unchanged on failure.
    bool ParseTime(const std::string& text);
    // h:m:s.mmm or h.m.s.mmm (four numbers required), normalised. Unchanged on failure.
    bool ParseMilliTime(const std::string& text);

    CChrono operator+(const CChrono& other) const;

    void AddTodayMidnight();
    void ToTimeOfDay();
    // Adds whole days (d × 86400 s). False, and the value unchanged, when the sum would pass
    // the largest time the value can carry (it would wrap to a negative time).
    bool AddDays(int dayCount);

    std::string FormatElapsed() const;       // HH:MM:SS.hh, hours unbounded
    std::string FormatClock() const;         // local HH:MM:SS.hh
    std::string FormatClockSeconds() const;  // local HH:MM:SS

    std::int32_t seconds = 0;
    std::uint16_t milliseconds = 0;
};

}  // namespace torvane
