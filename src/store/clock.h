#pragma once

#include <string>

namespace velmora::store {

// A local calendar time with its offset from UTC.
struct LocalDateTime {
    int year = 1970;
    int month = 1; // 1..12
    int day = 1;   // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 4;          // 0 = Sunday
    int utcOffsetMinutes = 0; // east of UTC is positive
    long long millisecondsSinceEpoch = 0;
};

// Injected wherever the time of day matters, so that dates are testable.
class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalDateTime now() const = 0;
};

class SystemClock final : public Clock {
public:
    LocalDateTime now() const override;
};

// A clock that stands still until told otherwise.
class FixedClock final : public Clock {
public:
    explicit FixedClock(LocalDateTime time) : time_(time) {}
    LocalDateTime now() const override { return time_; }
    void set(LocalDateTime time) { time_ = time; }
    void advanceMilliseconds(long long ms) { time_.millisecondsSinceEpoch += ms; }

private:
    LocalDateTime time_;
};

// "%mm/%dd/%yyyy": the form of every contact date.
std::string formatContactDate(const LocalDateTime& time);
// Fills a mask of "%yyyy", "%mm", "%dd", "%hh", "%ii" and "%ss" fields.
std::string formatDateMask(std::string_view mask, const LocalDateTime& time);

} // namespace velmora::store
