#include "foundation/C_CUTime.h"

namespace cz {

namespace {
// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = yy + (*m <= 2);
}

uint16_t DayOfWeek(int y, int m, int d) {
    // Sakamoto's method; 0 = Sunday as in the system-time record.
    static constexpr int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (m < 3) y -= 1;
    return static_cast<uint16_t>((y + y / 4 - y / 100 + y / 400 + offsets[(m - 1) % 12] + d) % 7);
}
}  // namespace

void C_CUTime::Set(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute, uint16_t second,
                   uint16_t milliseconds) {
    year_ = year;
    month_ = month;
    day_ = day;
    hour_ = hour;
    minute_ = minute;
    second_ = second;
    milliseconds_ = milliseconds;
    dayOfWeek_ = (month >= 1 && month <= 12) ? DayOfWeek(year, month, day) : 0;
}

void C_CUTime::SetFromFileTime(platform::FileTime time) {
    constexpr uint64_t kTicksPerMs = 10000;
    constexpr uint64_t kMsPerDay = 86400000;
    constexpr int64_t kDaysFrom1601To1970 = 134774;
    uint64_t ms = time.ticks / kTicksPerMs;
    int64_t days = static_cast<int64_t>(ms / kMsPerDay) - kDaysFrom1601To1970;
    uint64_t rest = ms % kMsPerDay;
    int64_t y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(days, &y, &m, &d);
    Set(static_cast<uint16_t>(y), static_cast<uint16_t>(m), static_cast<uint16_t>(d),
        static_cast<uint16_t>(rest / 3600000), static_cast<uint16_t>(rest / 60000 % 60),
        static_cast<uint16_t>(rest / 1000 % 60), static_cast<uint16_t>(rest % 1000));
}

const char* C_CUTime::GetText() {
    unsigned hour12 = hour_ > 12 ? hour_ - 12u : hour_;
    text_.Format("%04d/%02d/%02d %s %02d:%02d", year_, month_, day_, hour_ < 12 ? "AM" : "PM", hour12, minute_);
    return text_.Text();
}

}  // namespace cz
