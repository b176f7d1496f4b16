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

TEST_F(CodePageTest, Under65001BothCodePagesAreUtf8) {
    ASSERT_TRUE(HostSetAnsiCodePage(65001));
    EXPECT_EQ(GetACP(), 65001u);
    EXPECT_EQ(GetOEMCP(), 65001u);
    // OEM to ANSI goes through Unicode, as Windows does it: UTF-8 stays, a
    // byte that starts no character becomes U+FFFD, cut to the length.
    char text[] = "\xe8\xa1\xa8 caf\x82";
    char out[sizeof text + 4] = {};
    ASSERT_TRUE(OemToCharA(text, out));
    EXPECT_STREQ(out, "\xe8\xa1\xa8 caf\xef\xbf\xbd");
    char buffer[] = "caf\x82 x";
    ASSERT_TRUE(OemToCharBuffA(buffer, buffer, 6));
    EXPECT_EQ(std::string(buffer, 6), std::string("caf\xef\xbf\xbd", 6));
    EXPECT_EQ(HostAnsiToUtf8("\xe8\xa1\xa8.txt"), "\xe8\xa1\xa8.txt") << "names pass as they are";
    const char *p = "\xe8\xa1\xa8";
    EXPECT_EQ(CharNextA(p), p + 1) << "no lead bytes in UTF-8";
}

TEST_F(CodePageTest, TheLocaleKeepsItsOwnCodePages) {
    struct Case {
        const char *oemSetting;
        unsigned ansi, oem, localeAnsi;
    } cases[] = {
        {nullptr, 1252, 437, 1252}, {"866", 1252, 866, 1251},  {"737", 65001, 737, 1253},
        {"850", 65001, 850, 1252},  {"123", 65001, 437, 1252}, // not a code page the layer knows:
                                                               // the default
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.oemSetting ? c.oemSetting : "unset");
        if (c.oemSetting)
            SetEnv("MORVIK_OEM_CODEPAGE", c.oemSetting);
        else
            unsetenv("MORVIK_OEM_CODEPAGE");
        HostReset();
        ASSERT_TRUE(HostSetAnsiCodePage(c.ansi));
        DWORD number = 0;
        ASSERT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT,
                                 LOCALE_IDEFAULTCODEPAGE | LOCALE_RETURN_NUMBER, (LPWSTR)&number,
                                 sizeof number / sizeof(WCHAR)),
                  2);
        EXPECT_EQ(number, c.oem);
        ASSERT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT,
                                 LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                                 (LPWSTR)&number, sizeof number / sizeof(WCHAR)),
                  2);
        EXPECT_EQ(number, c.localeAnsi);
        char digits[8];
        ASSERT_EQ(
            GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTCODEPAGE, digits, sizeof digits),
            (int)std::to_string(c.oem).size() + 1);
        EXPECT_EQ(digits, std::to_string(c.oem));
        EXPECT_EQ(GetOEMCP(), c.ansi == 65001 ? 65001u : c.oem);
    }
    unsetenv("MORVIK_OEM_CODEPAGE");
}

TEST_F(CodePageTest, WideConversionsInAnyCodePageTheLayerKnows) {
    WCHAR wide[16];
    ASSERT_EQ(MultiByteToWideChar(866, 0, "\x8f\xe0", 2, wide, 16), 2);
    EXPECT_EQ(wide[0], 0x041F); // П
    EXPECT_EQ(wide[1], 0x0440); // р
    ASSERT_EQ(MultiByteToWideChar(437, 0, "\xb0", 1, wide, 16), 1);
    EXPECT_EQ(wide[0], 0x2591); // ░
    char bytes[16];
    BOOL usedDefault = FALSE;
    ASSERT_EQ(WideCharToMultiByte(1252, 0, wide, 1, bytes, sizeof bytes, NULL, &usedDefault), 1);
    EXPECT_EQ(bytes[0], '?');
    EXPECT_TRUE(usedDefault) << "1252 has no shade block";
    EXPECT_EQ(MultiByteToWideChar(12345, 0, "x", 1, wide, 16), 0) << "an unknown code page";
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "caf\xe9", 4, wide, 16), 0);
    // CP_OEMCP follows the process: 437 under 1252, UTF-8 under 65001.
    ASSERT_EQ(MultiByteToWideChar(CP_OEMCP, 0, "\x82", 1, wide, 16), 1);
    EXPECT_EQ(wide[0], 0x00E9);
    ASSERT_TRUE(HostSetAnsiCodePage(65001));
    ASSERT_EQ(MultiByteToWideChar(CP_OEMCP, 0, "\xc3\xa9", 2, wide, 16), 1);
    EXPECT_EQ(wide[0], 0x00E9);
}

} // namespace
