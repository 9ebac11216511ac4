#include "store/clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace velmora::store {

LocalDateTime SystemClock::now() const {
    const auto point = std::chrono::system_clock::now();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(point.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    LocalDateTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec;
    t.weekday = local.tm_wday;
    t.utcOffsetMinutes = static_cast<int>(local.tm_gmtoff / 60);
    t.millisecondsSinceEpoch = ms;
    return t;
}

namespace {

void appendPadded(std::string& out, int value, int width) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%0*d", width, value);
    out += digits;
}

} // namespace

std::string formatDateMask(std::string_view mask, const LocalDateTime& time) {
    struct Field {
        std::string_view name;
        int value;
        int width;
    };
    const Field fields[] = {{"%yyyy", time.year, 4}, {"%mm", time.month, 2},
                            {"%dd", time.day, 2},    {"%hh", time.hour, 2},
                            {"%ii", time.minute, 2}, {"%ss", time.second, 2}};
    std::string out;
    std::size_t i = 0;
    while (i < mask.size()) {
        bool replaced = false;
        for (const Field& field : fields) {
            if (mask.substr(i, field.name.size()) == field.name) {
                appendPadded(out, field.value, field.width);
                i += field.name.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            out.push_back(mask[i++]);
        }
    }
    return out;
}

std::string formatContactDate(const LocalDateTime& time) {
    return formatDateMask("%mm/%dd/%yyyy", time);
}

} // namespace velmora::store
