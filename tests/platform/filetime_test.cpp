// DOS dates, local-to-UTC file times and stamping a file.
#include "host_test_support.h"

namespace {

unsigned long long Ticks(const FILETIME &t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

FILETIME FromTicks(unsigned long long ticks) {
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(ticks);
    t.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return t;
}

WORD DosDate(int year, int month, int day) {
    return static_cast<WORD>(((year - 1980) << 9) | (month << 5) | day);
}

WORD DosTime(int hour, int minute, int second) {
    return static_cast<WORD>((hour << 11) | (minute << 5) | (second / 2));
}

const unsigned long long kTicksPerSecond = 10000000ULL;

class FileTimeTest : public HostTest {};

TEST_F(FileTimeTest, DosDateTimeToFileTimeCountsFrom1601) {
    struct Case {
        WORD date, time;
        unsigned long long ticks;
    } cases[] = {
        {DosDate(1980, 1, 1), DosTime(0, 0, 0), 119600064000000000ULL},
        {DosDate(2024, 2, 29), DosTime(13, 45, 58), 133536879580000000ULL},
        {DosDate(2000, 6, 15), DosTime(12, 0, 0), 126055440000000000ULL},
        {DosDate(2107, 12, 31), DosTime(23, 59, 58), 159992927980000000ULL},
    };
    for (const Case &c : cases) {
        FILETIME t = FromTicks(0);
        ASSERT_TRUE(DosDateTimeToFileTime(c.date, c.time, &t)) << c.date << " " << c.time;
        EXPECT_EQ(Ticks(t), c.ticks) << c.date << " " << c.time;
    }
}

TEST_F(FileTimeTest, DosDateTimeToFileTimeRejectsInvalidFields) {
    struct Case {
        const char *what;
        WORD date, time;
    } cases[] = {
        {"month 0", DosDate(2020, 0, 1), DosTime(0, 0, 0)},
        {"month 13", DosDate(2020, 13, 1), DosTime(0, 0, 0)},
        {"day 0", DosDate(2020, 5, 0), DosTime(0, 0, 0)},
        {"April 31", DosDate(2020, 4, 31), DosTime(0, 0, 0)},
        {"February 29 of 2023", DosDate(2023, 2, 29), DosTime(0, 0, 0)},
        {"February 30 of 2024", DosDate(2024, 2, 30), DosTime(0, 0, 0)},
        {"hour 24", DosDate(2020, 5, 1), DosTime(24, 0, 0)},
        {"minute 60", DosDate(2020, 5, 1), DosTime(0, 60, 0)},
        {"second 60", DosDate(2020, 5, 1), DosTime(0, 0, 60)},
        {"second 62", DosDate(2020, 5, 1), DosTime(0, 0, 62)},
    };
    for (const Case &c : cases) {
        FILETIME t = FromTicks(12345);
        EXPECT_FALSE(DosDateTimeToFileTime(c.date, c.time, &t)) << c.what;
    }
    FILETIME t;
    EXPECT_TRUE(DosDateTimeToFileTime(DosDate(2000, 2, 29), DosTime(23, 59, 58), &t))
        << "2000 is a leap year";
}

TEST_F(FileTimeTest, LocalFileTimeUsesTheHostTimeZone) {
    const unsigned long long noon = 126055440000000000ULL; // 2000-06-15 12:00:00
    FILETIME local = FromTicks(noon + 1234567);            // with a fraction of a second
    FILETIME utc;

    SetEnv("TZ", "UTC0");
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    EXPECT_EQ(Ticks(utc), noon + 1234567);

    SetEnv("TZ", "EST5");
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    EXPECT_EQ(Ticks(utc), noon + 5 * 3600 * kTicksPerSecond + 1234567);

    SetEnv("TZ", "CET-1");
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    EXPECT_EQ(Ticks(utc), noon - 3600 * kTicksPerSecond + 1234567);
}

// Windows converts with the offset in force at the moment of the call, summer
// time included when it is in effect then, whatever the date converted: a
// summer date stamped in winter and a winter date stamped in summer are both
// an hour off their own offset.
TEST_F(FileTimeTest, LocalFileTimeTakesTheOffsetInForceNow) {
    const unsigned long long kHour = 3600 * kTicksPerSecond;
    const unsigned long long summerNoon = 126055440000000000ULL;              // 2000-06-15 12:00
    const unsigned long long winterNoon = 119600064000000000ULL + 12 * kHour; // 1980-01-01 12:00
    const char *const kWinterNow = "1705320000"; // 2024-01-15 12:00 UTC
    const char *const kSummerNow = "1721044800"; // 2024-07-15 12:00 UTC
    struct Case {
        const char *zone, *now;
        unsigned long long local, utc;
    } cases[] = {
        // Berlin's rules, written out so that no time zone database is needed.
        {"CET-1CEST,M3.5.0,M10.5.0/3", kWinterNow, summerNoon, summerNoon - kHour},
        {"CET-1CEST,M3.5.0,M10.5.0/3", kWinterNow, winterNoon, winterNoon - kHour},
        {"CET-1CEST,M3.5.0,M10.5.0/3", kSummerNow, summerNoon, summerNoon - 2 * kHour},
        {"CET-1CEST,M3.5.0,M10.5.0/3", kSummerNow, winterNoon, winterNoon - 2 * kHour},
        // New York: west of UTC, so the times move forward.
        {"EST5EDT,M3.2.0,M11.1.0", kWinterNow, summerNoon, summerNoon + 5 * kHour},
        {"EST5EDT,M3.2.0,M11.1.0", kSummerNow, winterNoon, winterNoon + 4 * kHour},
        // Without daylight saving the moment does not matter.
        {"UTC0", kSummerNow, summerNoon, summerNoon},
        {"JST-9", kWinterNow, winterNoon, winterNoon - 9 * kHour},
    };
    for (const Case &c : cases) {
        SetEnv("TZ", c.zone);
        SetEnv("MORVIK_NOW", c.now);
        FILETIME local = FromTicks(c.local + 1234567), utc = FromTicks(0);
        ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc)) << c.zone << " " << c.now;
        EXPECT_EQ(Ticks(utc), c.utc + 1234567) << c.zone << " at " << c.now << " of " << c.local;
    }
    // Without MORVIK_NOW the real clock decides: the offset in force now.
    SetEnv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    SetEnv("MORVIK_NOW", nullptr);
    time_t now = time(nullptr);
    struct tm fields;
    ASSERT_NE(localtime_r(&now, &fields), nullptr);
    for (unsigned long long at : {summerNoon, winterNoon}) {
        FILETIME local = FromTicks(at), utc;
        ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
        EXPECT_EQ(Ticks(utc),
                  at - static_cast<unsigned long long>(fields.tm_gmtoff) * kTicksPerSecond);
    }
}

TEST_F(FileTimeTest, MemberTimesReachTheFile) {
    SetEnv("TZ", "EST5");
    TempFolder folder;
    HFILE file = _lcreat((folder / "stamped.txt").c_str(), 0);
    ASSERT_NE(file, HFILE_ERROR);
    ASSERT_EQ(_lwrite(file, "x", 1), 1u);

    FILETIME local, utc;
    ASSERT_TRUE(DosDateTimeToFileTime(DosDate(2024, 2, 29), DosTime(13, 45, 58), &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(file));
    ASSERT_TRUE(SetFileTime(handle, &utc, &utc, &utc));
    ASSERT_EQ(_lclose(file), 0);

    struct stat st;
    ASSERT_EQ(stat((folder / "stamped.txt").c_str(), &st), 0);
    // 2024-02-29 13:45:58 EST is 18:45:58 UTC.
    const time_t expected = 1709232358;
    EXPECT_EQ(st.st_mtim.tv_sec, expected);
    EXPECT_EQ(st.st_atim.tv_sec, expected);
    EXPECT_EQ(st.st_mtim.tv_nsec, 0);
}

TEST_F(FileTimeTest, SetFileTimeSetsAccessAndWriteSeparately) {
    TempFolder folder;
    HFILE file = _lcreat((folder / "times.txt").c_str(), 0);
    ASSERT_NE(file, HFILE_ERROR);
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(file));
    const unsigned long long epoch = 116444736000000000ULL; // 1970-01-01 in ticks
    FILETIME access = FromTicks(epoch + 1000 * kTicksPerSecond + 5000);
    FILETIME write = FromTicks(epoch + 2000 * kTicksPerSecond);
    ASSERT_TRUE(SetFileTime(handle, nullptr, &access, &write));

    FILETIME zero = FromTicks(0);
    FILETIME later = FromTicks(epoch + 3000 * kTicksPerSecond);
    ASSERT_TRUE(SetFileTime(handle, nullptr, &zero, &later)) << "0 leaves the access time";
    ASSERT_TRUE(SetFileTime(handle, &later, nullptr, nullptr)) << "no creation time here";

    struct stat st;
    ASSERT_EQ(stat((folder / "times.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_atim.tv_sec, 1000);
    EXPECT_EQ(st.st_atim.tv_nsec, 500000);
    EXPECT_EQ(st.st_mtim.tv_sec, 3000);
    _lclose(file);

    EXPECT_FALSE(SetFileTime(handle, nullptr, &access, &write)) << "closed handle";
    EXPECT_FALSE(SetFileTime(nullptr, nullptr, &access, &write));
}

} // namespace
