// A time stamp in the fields of a Windows system time, with its text form.
#pragma once

#include <cstdint>

#include "foundation/C_CUString.h"
#include "platform/Platform.h"

namespace cz {

class I_CUTime {
public:
    virtual uint16_t GetYear() const = 0;
    virtual uint16_t GetMonth() const = 0;
    virtual uint16_t GetDayOfWeek() const = 0;
    virtual uint16_t GetDay() const = 0;
    virtual uint16_t GetHour() const = 0;
    virtual uint16_t GetMinute() const = 0;
    virtual uint16_t GetSecond() const = 0;
    virtual uint16_t GetMilliseconds() const = 0;
    virtual const char* GetText() = 0;
    virtual ~I_CUTime() = default;
};

class C_CUTime : public I_CUTime {
public:
    C_CUTime() = default;
    void Set(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute, uint16_t second = 0,
             uint16_t milliseconds = 0);
    // From a file time (100-ns ticks since 1601), as UTC.
    void SetFromFileTime(platform::FileTime time);

    uint16_t GetYear() const override { return year_; }
    uint16_t GetMonth() const override { return month_; }
    uint16_t GetDayOfWeek() const override { return dayOfWeek_; }
    uint16_t GetDay() const override { return day_; }
    uint16_t GetHour() const override { return hour_; }
    uint16_t GetMinute() const override { return minute_; }
    uint16_t GetSecond() const override { return second_; }
    uint16_t GetMilliseconds() const override { return milliseconds_; }
    // "2009/01/22 PM 01:30"
    const char* GetText() override;

private:
    uint16_t year_ = 0, month_ = 0, dayOfWeek_ = 0, day_ = 0, hour_ = 0, minute_ = 0, second_ = 0, milliseconds_ = 0;
    C_CUString text_;
};

}  // namespace cz
