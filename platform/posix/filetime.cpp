// File times on the native host. A FILETIME counts 100-nanosecond ticks since
// 1601-01-01; the host counts seconds since 1970-01-01.
#include "posix/host_internal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

namespace {

const long long kTicksPerSecond = 10000000LL;
const long long kSecondsFrom1601To1970 = 11644473600LL;

unsigned long long Ticks(const FILETIME &t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

void SetTicks(unsigned long long ticks, FILETIME *out) {
    out->dwLowDateTime = static_cast<DWORD>(ticks);
    out->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (month == 2 && IsLeapYear(year)) ? 29 : days[month - 1];
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
long long DaysFromCivil(int year, int month, int day) {
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

} // namespace

BOOL WINAPI DosDateTimeToFileTime(WORD date, WORD time, LPFILETIME fileTime) {
    if (!fileTime)
        return FALSE;
    const int year = 1980 + (date >> 9);
    const int month = (date >> 5) & 0x0F;
    const int day = date & 0x1F;
    const int hour = time >> 11;
    const int minute = (time >> 5) & 0x3F;
    const int second = (time & 0x1F) * 2;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return FALSE;
    long long seconds = DaysFromCivil(year, month, day) * 86400LL + hour * 3600LL + minute * 60LL +
                        second + kSecondsFrom1601To1970;
    SetTicks(static_cast<unsigned long long>(seconds) * kTicksPerSecond, fileTime);
    return TRUE;
}

namespace {

// The moment whose offset from UTC the conversion takes: now, or the moment
// that MORVIK_NOW gives in seconds since 1970-01-01 UTC (for tests that must
// not depend on the date they run on).
time_t CurrentMoment() {
    const char *value = getenv("MORVIK_NOW");
    if (value && *value) {
        char *end = nullptr;
        long long n = strtoll(value, &end, 10);
        if (*end == '\0')
            return static_cast<time_t>(n);
    }
    return time(nullptr);
}

} // namespace

// As on Windows, the offset that applies is the one in force now (daylight
// saving included when it is in effect now), not the offset of the date being
// converted: a summer date converted in winter is one hour off its summer
// offset, the same as Windows stamps it.
BOOL WINAPI LocalFileTimeToFileTime(const FILETIME *local, LPFILETIME utc) {
    if (!local || !utc)
        return FALSE;
    const time_t now = CurrentMoment();
    tzset(); // TZ may have changed since the last call
    struct tm fields;
    if (!localtime_r(&now, &fields))
        return FALSE;
    // tm_gmtoff is east of UTC; Windows' bias is its negation in minutes.
    const long long offset = static_cast<long long>(fields.tm_gmtoff) * kTicksPerSecond;
    const long long ticks = static_cast<long long>(Ticks(*local)) - offset;
    if (ticks < 0)
        return FALSE;
    SetTicks(static_cast<unsigned long long>(ticks), utc);
    return TRUE;
}

// The HANDLE is an HFILE cast to a pointer. The host keeps no creation time,
// so only the access and modification times are set; a null pointer or a
// zero FILETIME leaves that time unchanged, as on Windows.
BOOL WINAPI SetFileTime(HANDLE file, const FILETIME *, const FILETIME *access,
                        const FILETIME *write) {
    const int fd = host::FdOf(static_cast<HFILE>(reinterpret_cast<intptr_t>(file)));
    if (fd < 0)
        return FALSE;
    // Gathered writes go out first, or they would move the time set here. A
    // failure to send stays with the handle for _lclose to report.
    host::SendPendingWrites(fd);
    struct timespec times[2];
    const FILETIME *given[2] = {access, write};
    for (int i = 0; i < 2; ++i) {
        if (!given[i] || Ticks(*given[i]) == 0) {
            times[i].tv_sec = 0;
            times[i].tv_nsec = UTIME_OMIT;
            continue;
        }
        const unsigned long long ticks = Ticks(*given[i]);
        times[i].tv_sec = static_cast<time_t>(static_cast<long long>(ticks / kTicksPerSecond) -
                                              kSecondsFrom1601To1970);
        times[i].tv_nsec = static_cast<long>(ticks % kTicksPerSecond) * 100;
    }
    return futimens(fd, times) == 0;
}
