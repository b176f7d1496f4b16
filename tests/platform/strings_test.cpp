// lstr* calls and wsprintfA.
#include "host_test_support.h"

#include <string.h>

namespace {

class StringsTest : public HostTest {};

template <typename... Args> std::string Printed(const char *format, Args... args) {
    char out[1100];
    wsprintfA(out, format, args...);
    return out;
}

TEST_F(StringsTest, Comparisons) {
    struct Case {
        const char *a, *b;
        int exact, folded;
    } cases[] = {
        {"abc", "abc", 0, 0}, {"abc", "ABC", 1, 0}, {"ABC", "abd", -1, -1},
        {"abc", "ab", 1, 1},  {"", "a", -1, -1},    {"NOAUTO", "noauto", -1, 0},
        {"\xE9", "e", 1, 1},  {".", ".", 0, 0},     {"a", "\xC9", -1, -1},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(lstrcmpA(c.a, c.b), c.exact) << c.a << " vs " << c.b;
        EXPECT_EQ(lstrcmpA(c.b, c.a), -c.exact) << c.b << " vs " << c.a;
        EXPECT_EQ(lstrcmpiA(c.a, c.b), c.folded) << c.a << " vs " << c.b;
        EXPECT_EQ(lstrcmpiA(c.b, c.a), -c.folded) << c.b << " vs " << c.a;
    }
}

TEST_F(StringsTest, CopyConcatenateAndLength) {
    char buffer[20];
    EXPECT_EQ(lstrcpyA(buffer, "C:\\"), buffer);
    EXPECT_EQ(lstrcatA(buffer, "TEMP"), buffer);
    EXPECT_STREQ(buffer, "C:\\TEMP");
    EXPECT_EQ(lstrlenA(buffer), 7);
    EXPECT_EQ(lstrlenA(""), 0);
    EXPECT_EQ(lstrlenA(nullptr), 0);

    struct Case {
        int size;
        const char *expected;
    } cases[] = {{1, ""}, {2, "a"}, {5, "abcd"}, {6, "abcde"}, {16, "abcde"}};
    for (const Case &c : cases) {
        memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(lstrcpynA(buffer, "abcde", c.size), buffer);
        EXPECT_STREQ(buffer, c.expected) << "size " << c.size;
        EXPECT_EQ(buffer[c.size], 'x') << "nothing written past the size";
    }
    memset(buffer, 'x', sizeof buffer);
    lstrcpynA(buffer, "abc", 0);
    EXPECT_EQ(buffer[0], 'x') << "size 0 writes nothing";
}

TEST_F(StringsTest, WsprintfConversions) {
    struct Case {
        std::string got;
        const char *expected;
    };
    const Case cases[] = {
        {Printed("%d file(s) unzipped successfully", 12), "12 file(s) unzipped successfully"},
        {Printed("%d|%d|%i", -5, 0, 2147483647), "-5|0|2147483647"},
        {Printed("%u", 4294967295u), "4294967295"},
        {Printed("Bad CRC %08lx (should be %08lx)", 0x1234abcdu, 0xfu),
         "Bad CRC 1234abcd (should be 0000000f)"},
        {Printed("%08lx", 0xDEADBEEFu), "deadbeef"},
        {Printed("%x %X %lx", 255u, 255u, 0u), "ff FF 0"},
        {Printed("%ld %lu", -7, 3000000000u), "-7 3000000000"},
        {Printed("%5d|%-5d|%05d|%03d", 42, 42, -42, 12345), "   42|42   |-0042|12345"},
        {Printed("%c%c", 'O', 'K'), "OK"},
        {Printed("Drive %s is not valid", "Q"), "Drive Q is not valid"},
        {Printed("[%6s][%-6s][%.2s]", "abc", "abc", "abc"), "[   abc][abc   ][ab]"},
        {Printed("100%% \"%s\"", "C:\\x"), "100% \"C:\\x\""},
        {Printed("%hd %hu", 70000, 70000), "4464 4464"},
        {Printed("%#x", 26u), "0x1a"},
        {Printed("%s", static_cast<const char *>(nullptr)), "(null)"},
        {Printed("Insert disk number %d.\n", 3), "Insert disk number 3.\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.expected);
    char out[32];
    EXPECT_EQ(wsprintfA(out, "%08lx|%s", 0xabcu, "xyz"), 12) << "the count written";
}

TEST_F(StringsTest, WsprintfWritesAtMost1024BytesWithTheNul) {
    std::string longText(2000, 'a');
    char out[2100];
    memset(out, 'x', sizeof out);
    EXPECT_EQ(wsprintfA(out, "%s-%d", longText.c_str(), 5), 1023);
    EXPECT_EQ(strlen(out), 1023u);
    EXPECT_EQ(out[1024], 'x') << "nothing past the 1024th byte";
}

} // namespace
