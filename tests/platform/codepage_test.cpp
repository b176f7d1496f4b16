// OEM and ANSI code pages, CharNextA and the UTF-8 conversions.
#include "host_test_support.h"

#include <string.h>

namespace {

class CodePageTest : public HostTest {};

TEST_F(CodePageTest, OemToAnsiAndBackUnder1252) {
    struct Case {
        unsigned char oem, ansi;
        bool roundTrips;
    } cases[] = {
        {0x41, 0x41, true}, // A
        {0x82, 0xE9, true}, // é
        {0x81, 0xFC, true}, // ü
        {0x9C, 0xA3, true}, // £
        {0xE1, 0xDF, true}, // ß
        {0xC4, '?', false}, // ─ box drawing: 1252 has none
        {0xB0, '?', false}, // ░
        {0xE3, '?', false}, // π
    };
    for (const Case &c : cases) {
        char oem[2] = {static_cast<char>(c.oem), 0};
        char ansi[2], back[2];
        ASSERT_TRUE(OemToCharA(oem, ansi));
        EXPECT_EQ(static_cast<unsigned char>(ansi[0]), c.ansi) << std::hex << int(c.oem);
        ASSERT_TRUE(CharToOemA(ansi, back));
        EXPECT_EQ(back[0] == oem[0], c.roundTrips) << std::hex << int(c.oem);
    }
    char euro[2] = {static_cast<char>(0x80), 0}, oem[2];
    CharToOemA(euro, oem);
    EXPECT_EQ(oem[0], '?') << "437 has no euro sign";
}

TEST_F(CodePageTest, AMemberNameConvertsInPlace) {
    char name[] = "caf\x82/r\x82sum\x82.txt";
    ASSERT_TRUE(OemToCharA(name, name));
    EXPECT_STREQ(name, "caf\xE9/r\xE9sum\xE9.txt");
    ASSERT_TRUE(CharToOemA(name, name));
    EXPECT_STREQ(name, "caf\x82/r\x82sum\x82.txt");
}

TEST_F(CodePageTest, OemToCharBuffConvertsExactlyTheGivenBytes) {
    char text[] = {'\x82', '\0', '\x82', 'x', '\x82'};
    ASSERT_TRUE(OemToCharBuffA(text, text, 4));
    EXPECT_EQ(static_cast<unsigned char>(text[0]), 0xE9);
    EXPECT_EQ(text[1], '\0') << "NUL bytes pass through";
    EXPECT_EQ(static_cast<unsigned char>(text[2]), 0xE9) << "conversion goes on past a NUL";
    EXPECT_EQ(text[3], 'x');
    EXPECT_EQ(static_cast<unsigned char>(text[4]), 0x82) << "byte 5 is outside the length";
}

TEST_F(CodePageTest, Under932TheOemConversionsKeepTheBytes) {
    ASSERT_TRUE(HostSetAnsiCodePage(932));
    char name[] = "\x95\x5C\x82\xA0.txt";
    char converted[sizeof name];
    ASSERT_TRUE(OemToCharA(name, converted));
    EXPECT_STREQ(converted, name);
    ASSERT_TRUE(CharToOemA(converted, converted));
    EXPECT_STREQ(converted, name);
}

TEST_F(CodePageTest, CharNextFollowsTheLeadBytesOfTheCodePage) {
    const char text[] = "a\x95\x5C\x81\x40z\x81";
    ASSERT_TRUE(HostSetAnsiCodePage(932));
    EXPECT_EQ(HostAnsiCodePage(), 932u);
    const char *p = text;
    std::vector<long> steps;
    while (*p) {
        const char *next = CharNextA(p);
        steps.push_back(next - p);
        p = next;
    }
    EXPECT_EQ(steps, (std::vector<long>{1, 2, 2, 1, 1}))
        << "a lead byte before the NUL is a character of its own";
    EXPECT_EQ(CharNextA(p), p) << "the terminator does not move";

    ASSERT_TRUE(HostSetAnsiCodePage(1252));
    steps.clear();
    for (p = text; *p; p = CharNextA(p))
        steps.push_back(CharNextA(p) - p);
    EXPECT_EQ(steps, (std::vector<long>(7, 1)));

    EXPECT_FALSE(HostSetAnsiCodePage(850));
    EXPECT_EQ(HostAnsiCodePage(), 1252u);
}

TEST_F(CodePageTest, CodePageFromTheEnvironment) {
    SetEnv("MORVIK_ANSI_CODEPAGE", "932");
    HostReset();
    EXPECT_EQ(HostAnsiCodePage(), 932u);
    SetEnv("MORVIK_ANSI_CODEPAGE", "437");
    HostReset();
    EXPECT_EQ(HostAnsiCodePage(), 1252u) << "anything else means 1252";
}

TEST_F(CodePageTest, Utf8ConversionsUnder1252) {
    struct Case {
        const char *ansi;
        const char *utf8;
    } cases[] = {
        {"plain", "plain"},   {"caf\xE9", "caf\xC3\xA9"}, {"\x80 5", "\xE2\x82\xAC 5"}, // euro sign
        {"\x81", "\xC2\x81"}, // undefined in 1252: the C1 control survives
        {"\xFF", "\xC3\xBF"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(HostAnsiToUtf8(c.ansi), c.utf8) << c.ansi;
        EXPECT_EQ(HostUtf8ToAnsi(c.utf8), c.ansi) << c.ansi;
    }
    EXPECT_EQ(HostUtf8ToAnsi("\xE6\x97\xA5-\xE2\x94\x80"), "?-?") << "no such characters";
    EXPECT_EQ(HostUtf8ToAnsi("bad\xC3(\xFF"), "bad?(?") << "invalid UTF-8";
}

TEST_F(CodePageTest, Utf8ConversionsUnder932) {
    ASSERT_TRUE(HostSetAnsiCodePage(932));
    EXPECT_EQ(HostAnsiToUtf8("\x95\x5C\\x"), "\xE8\xA1\xA8\\x") << "0x95 0x5C is one character";
    EXPECT_EQ(HostUtf8ToAnsi("\xE8\xA1\xA8\\x"), "\x95\x5C\\x");
    EXPECT_EQ(HostAnsiToUtf8("\x82\xA0"), "\xE3\x81\x82"); // hiragana a
    EXPECT_EQ(HostUtf8ToAnsi("\xC3\xA9t\xC3\xA9"), "?t?") << "é is not in 932";
    EXPECT_EQ(HostAnsiToUtf8("x\x81"), "x?") << "a lone lead byte";
}

} // namespace
