// Code pages of the native host: the ANSI and OEM code pages the process runs
// in, the OEM and ANSI code pages of the user's locale, and the conversions
// between any of them and UTF-8 (the encoding of host file names).
//
// The process's ANSI code page is 1252 (the default), 932, or 65001 (UTF-8,
// as the manifest's process code page makes current Windows run the stub);
// its OEM code page is the locale's under 1252, 932 under 932, and 65001
// under 65001. Code pages 1252 and 437 use the generated tables, UTF-8 is
// decoded here, every other code page goes through glibc's iconv ("CP866").
// A character that the target encoding lacks, or a byte sequence that is not
// valid in the source, becomes '?' (U+FFFD when the target is UTF-8).
#include "posix/codepage_tables.h"
#include "posix/host.h"
#include "posix/host_internal.h"

#include <errno.h>
#include <iconv.h>
#include <stdlib.h>
#include <string.h>

#include <map>

namespace host {
namespace {

unsigned codePage = 0;  // the process's ANSI code page; 0: not yet decided
unsigned localeOem = 0; // the OEM code page of the user's locale; 0: not yet decided

const char kReplacementUtf8[] = "\xEF\xBF\xBD"; // U+FFFD

// One iconv descriptor per direction and code page, opened at first use;
// (iconv_t)-1 when glibc does not know the code page.
iconv_t Converter(unsigned page, bool toUtf8) {
    // Kept for the life of the process (never destroyed, so that the
    // descriptors stay reachable to the very end).
    static auto *open = new std::map<std::pair<unsigned, bool>, iconv_t>;
    auto key = std::make_pair(page, toUtf8);
    auto found = open->find(key);
    if (found != open->end())
        return found->second;
    std::string name = "CP" + std::to_string(page);
    iconv_t converter =
        toUtf8 ? iconv_open("UTF-8", name.c_str()) : iconv_open(name.c_str(), "UTF-8");
    (*open)[key] = converter;
    return converter;
}

// Length of the UTF-8 sequence that starts at p (1 for a stray byte).
size_t Utf8SequenceLength(const unsigned char *p, size_t left) {
    size_t n = 1;
    while (n < left && n < 4 && (p[n] & 0xC0) == 0x80)
        ++n;
    return n;
}

bool IsLeadByteOf(unsigned page, unsigned char c) {
    return page == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
}

// Runs iconv over the whole input; an unconvertible or invalid character
// becomes `bad` and sets *invalid. `page` is the byte side's code page, which
// tells how far to skip over a bad character.
std::string Convert(iconv_t converter, const char *input, size_t length, bool fromUtf8,
                    unsigned page, const char *bad, bool *invalid) {
    std::string out;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char *in = const_cast<char *>(input);
    size_t inLeft = length;
    char chunk[256];
    while (inLeft > 0) {
        char *outPtr = chunk;
        size_t outLeft = sizeof chunk;
        size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
        out.append(chunk, static_cast<size_t>(outPtr - chunk));
        if (result != (size_t)-1 || errno == E2BIG)
            continue;
        // EILSEQ or EINVAL: one bad character.
        out += bad;
        if (invalid)
            *invalid = true;
        const unsigned char *at = reinterpret_cast<const unsigned char *>(in);
        size_t skip = 1;
        if (fromUtf8)
            skip = Utf8SequenceLength(at, inLeft);
        else if (inLeft > 1 && IsLeadByteOf(page, at[0]))
            skip = 2;
        in += skip;
        inLeft -= skip;
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

void AppendUtf8(std::string &out, unsigned codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

const uint16_t *SingleByteTable(unsigned page) {
    return page == 1252 ? kCp1252ToUnicode : page == 437 ? kCp437ToUnicode : nullptr;
}

char FromTable(const uint16_t *table, unsigned codePoint) {
    if (codePoint < 0x80)
        return static_cast<char>(codePoint);
    for (unsigned b = 0x80; b < 0x100; ++b)
        if (table[b] == codePoint)
            return static_cast<char>(b);
    return '?';
}

unsigned NumberFromEnvironment(const char *name) {
    const char *value = getenv(name);
    return value ? static_cast<unsigned>(strtoul(value, nullptr, 10)) : 0;
}

} // namespace

// Decodes one UTF-8 character at p; returns its length, or 0 when the bytes
// there are not a valid character.
size_t DecodeUtf8(const unsigned char *p, size_t left, unsigned *codePoint) {
    unsigned c = p[0];
    size_t n;
    unsigned minimum;
    if (c < 0x80) {
        *codePoint = c;
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        n = 2, minimum = 0x80, c &= 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3, minimum = 0x800, c &= 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4, minimum = 0x10000, c &= 0x07;
    } else {
        return 0;
    }
    if (left < n)
        return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (p[i] & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    *codePoint = c;
    return n;
}

unsigned AnsiCodePage() {
    if (codePage == 0) {
        unsigned value = NumberFromEnvironment("MORVIK_ANSI_CODEPAGE");
        codePage = (value == 932 || value == 65001) ? value : 1252;
    }
    return codePage;
}

unsigned LocaleOemCodePage() {
    if (localeOem == 0) {
        unsigned value = NumberFromEnvironment("MORVIK_OEM_CODEPAGE");
        if (value == 437 || value == 737 || value == 850 || value == 852 || value == 866 ||
            value == 932)
            localeOem = value;
        else
            localeOem = AnsiCodePage() == 932 ? 932 : 437;
    }
    return localeOem;
}

unsigned LocaleAnsiCodePage() {
    // The ANSI code page that Windows pairs with the locale's OEM code page.
    switch (LocaleOemCodePage()) {
    case 737:
        return 1253;
    case 852:
        return 1250;
    case 866:
        return 1251;
    case 932:
        return 932;
    default:
        return 1252;
    }
}

unsigned OemCodePage() {
    unsigned ansi = AnsiCodePage();
    return ansi == 1252 ? LocaleOemCodePage() : ansi;
}

void ResetCodePage() {
    codePage = 0;
    localeOem = 0;
}

bool IsLeadByte(unsigned char c) {
    return IsLeadByteOf(AnsiCodePage(), c);
}

bool KnownCodePage(unsigned page) {
    return page == 65001 || SingleByteTable(page) || Converter(page, true) != (iconv_t)-1;
}

std::string CodePageToUtf8(unsigned page, const char *text, size_t length, bool *invalid) {
    std::string out;
    out.reserve(length);
    if (page == 65001) {
        // Each byte that does not start a valid character stands for U+FFFD.
        const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
        for (size_t i = 0; i < length;) {
            unsigned codePoint;
            size_t n = DecodeUtf8(p + i, length - i, &codePoint);
            if (n == 0) {
                out += kReplacementUtf8;
                if (invalid)
                    *invalid = true;
                n = 1;
            } else {
                out.append(text + i, n);
            }
            i += n;
        }
        return out;
    }
    if (const uint16_t *table = SingleByteTable(page)) {
        for (size_t i = 0; i < length; ++i)
            AppendUtf8(out, table[static_cast<unsigned char>(text[i])]);
        return out;
    }
    iconv_t converter = Converter(page, true);
    if (converter == (iconv_t)-1) {
        for (size_t i = 0; i < length; ++i)
            out += (static_cast<unsigned char>(text[i]) < 0x80) ? text[i] : '?';
        return out;
    }
    return Convert(converter, text, length, false, page, "?", invalid);
}

std::string Utf8ToCodePage(unsigned page, const std::string &utf8, bool *usedDefault) {
    if (page == 65001)
        return CodePageToUtf8(65001, utf8.data(), utf8.size(), usedDefault);
    const uint16_t *table = SingleByteTable(page);
    iconv_t converter = table ? (iconv_t)-1 : Converter(page, false);
    if (table || converter == (iconv_t)-1) {
        std::string out;
        const unsigned char *p = reinterpret_cast<const unsigned char *>(utf8.data());
        size_t left = utf8.size();
        while (left > 0) {
            unsigned codePoint = 0;
            size_t n = DecodeUtf8(p, left, &codePoint);
            char c = '?';
            if (n == 0)
                n = Utf8SequenceLength(p, left);
            else if (table)
                c = FromTable(table, codePoint);
            else if (codePoint < 0x80)
                c = static_cast<char>(codePoint);
            if (c == '?' && !(n == 1 && *p == '?') && usedDefault)
                *usedDefault = true;
            out += c;
            p += n;
            left -= n;
        }
        return out;
    }
    return Convert(converter, utf8.data(), utf8.size(), true, page, "?", usedDefault);
}

std::string AnsiToUtf8(const char *ansi, size_t length) {
    return CodePageToUtf8(AnsiCodePage(), ansi, length, nullptr);
}

std::string AnsiToUtf8(const char *ansi) {
    return ansi ? AnsiToUtf8(ansi, strlen(ansi)) : "";
}

std::string Utf8ToAnsi(const std::string &utf8) {
    return Utf8ToCodePage(AnsiCodePage(), utf8, nullptr);
}

} // namespace host

bool HostSetAnsiCodePage(unsigned codePage) {
    if (codePage != 1252 && codePage != 932 && codePage != 65001)
        return false;
    host::codePage = codePage;
    return true;
}

unsigned HostAnsiCodePage() {
    return host::AnsiCodePage();
}

bool HostSetLocaleOemCodePage(unsigned codePage) {
    if (codePage != 437 && codePage != 737 && codePage != 850 && codePage != 852 &&
        codePage != 866 && codePage != 932)
        return false;
    host::localeOem = codePage;
    return true;
}

std::string HostAnsiToUtf8(const char *ansi) {
    return host::AnsiToUtf8(ansi);
}

std::string HostUtf8ToAnsi(const char *utf8) {
    return host::Utf8ToAnsi(utf8 ? utf8 : "");
}

// ---- the Windows calls ------------------------------------------------------

UINT WINAPI GetACP(void) {
    return host::AnsiCodePage();
}

UINT WINAPI GetOEMCP(void) {
    return host::OemCodePage();
}

// The locale's code pages are the only data asked for; the user's and the
// system's locale are the same one here.
int WINAPI GetLocaleInfoW(LCID locale, LCTYPE type, LPWSTR data, int size) {
    if (locale != LOCALE_USER_DEFAULT && locale != LOCALE_SYSTEM_DEFAULT)
        return 0;
    unsigned value;
    switch (type & ~LOCALE_RETURN_NUMBER) {
    case LOCALE_IDEFAULTCODEPAGE:
        value = host::LocaleOemCodePage();
        break;
    case LOCALE_IDEFAULTANSICODEPAGE:
        value = host::LocaleAnsiCodePage();
        break;
    default:
        return 0;
    }
    if (type & LOCALE_RETURN_NUMBER) {
        const int units = sizeof(DWORD) / sizeof(WCHAR);
        if (size == 0)
            return units;
        if (size < units || !data)
            return 0;
        DWORD number = value;
        memcpy(data, &number, sizeof number);
        return units;
    }
    std::string digits = std::to_string(value);
    int units = static_cast<int>(digits.size()) + 1;
    if (size == 0)
        return units;
    if (size < units || !data)
        return 0;
    for (int i = 0; i < units; ++i)
        data[i] = static_cast<WCHAR>(digits.c_str()[i]);
    return units;
}

int WINAPI GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size) {
    WCHAR wide[16];
    int units = GetLocaleInfoW(locale, type, wide, 16);
    if (units == 0)
        return 0;
    int bytes = (type & LOCALE_RETURN_NUMBER) ? (int)sizeof(DWORD) : units;
    if (size == 0)
        return bytes;
    if (size < bytes || !data)
        return 0;
    if (type & LOCALE_RETURN_NUMBER)
        memcpy(data, wide, sizeof(DWORD));
    else
        for (int i = 0; i < units; ++i)
            data[i] = static_cast<char>(wide[i]);
    return bytes;
}

// OEM to ANSI and back go through Unicode, as Windows converts: under UTF-8
// (both code pages 65001) a byte that starts no valid character becomes
// U+FFFD. Where both code pages are 932 the bytes are kept. OemToCharBuffA's
// result has exactly the given length (a longer one is cut); NUL bytes pass.
BOOL WINAPI OemToCharBuffA(LPCSTR from, LPSTR to, DWORD length) {
    if (!from || !to)
        return FALSE;
    unsigned oem = host::OemCodePage(), ansi = host::AnsiCodePage();
    if (oem == 932 && ansi == 932) {
        memmove(to, from, length);
        return TRUE;
    }
    std::string converted =
        host::Utf8ToCodePage(ansi, host::CodePageToUtf8(oem, from, length, nullptr), nullptr);
    converted.resize(length, '\0');
    memmove(to, converted.data(), length);
    return TRUE;
}

// OemToCharA and CharToOemA: a string from one of the two code pages into
// the other, in place or not. Under 932 both are the same code page.
static BOOL ConvertBetween(unsigned fromCodePage, unsigned toCodePage, LPCSTR from, LPSTR to) {
    if (!from || !to)
        return FALSE;
    size_t length = strlen(from) + 1;
    if (fromCodePage == 932 && toCodePage == 932) {
        memmove(to, from, length);
        return TRUE;
    }
    std::string converted = host::Utf8ToCodePage(
        toCodePage, host::CodePageToUtf8(fromCodePage, from, length, nullptr), nullptr);
    memmove(to, converted.data(), converted.size());
    return TRUE;
}

BOOL WINAPI OemToCharA(LPCSTR from, LPSTR to) {
    return ConvertBetween(host::OemCodePage(), host::AnsiCodePage(), from, to);
}

BOOL WINAPI CharToOemA(LPCSTR from, LPSTR to) {
    return ConvertBetween(host::AnsiCodePage(), host::OemCodePage(), from, to);
}

LPSTR WINAPI CharNextA(LPCSTR s) {
    if (!s || !*s)
        return const_cast<LPSTR>(s);
    if (host::IsLeadByte(static_cast<unsigned char>(s[0])) && s[1] != '\0')
        return const_cast<LPSTR>(s + 2);
    return const_cast<LPSTR>(s + 1);
}
