// ANSI and OEM code pages of the native host, and the conversions between the
// ANSI code page and UTF-8 (the encoding of host file names).
//
// Code page 1252 (the default) uses the generated tables; code page 932
// (Shift-JIS) uses glibc's iconv ("CP932"). A character that the target
// encoding lacks, or a byte sequence that is not valid in the source, becomes
// '?'.
#include "posix/codepage_tables.h"
#include "posix/host.h"
#include "posix/host_internal.h"

#include <errno.h>
#include <iconv.h>
#include <stdlib.h>
#include <string.h>

namespace host {
namespace {

unsigned codePage = 0; // 0: not yet decided

iconv_t OpenConverter(const char *to, const char *from, iconv_t *slot) {
    if (*slot == (iconv_t)-1)
        *slot = iconv_open(to, from);
    return *slot;
}

iconv_t ansiToUtf8 = (iconv_t)-1;
iconv_t utf8ToAnsi = (iconv_t)-1;

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
size_t Utf8SequenceLength(const unsigned char *p, size_t left) {
    size_t n = 1;
    while (n < left && n < 4 && (p[n] & 0xC0) == 0x80)
        ++n;
    return n;
}

// Runs iconv over the whole input; an unconvertible or invalid character
// becomes '?'. `fromUtf8` tells how far to skip over a bad character.
std::string Convert(iconv_t converter, const char *input, size_t length, bool fromUtf8) {
    std::string out;
    if (converter == (iconv_t)-1) {
        // No converter: pass ASCII, replace everything else.
        for (size_t i = 0; i < length; ++i)
            out += (static_cast<unsigned char>(input[i]) < 0x80) ? input[i] : '?';
        return out;
    }
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
        out += '?';
        const unsigned char *bad = reinterpret_cast<const unsigned char *>(in);
        size_t skip = 1;
        if (fromUtf8)
            skip = Utf8SequenceLength(bad, inLeft);
        else if (inLeft > 1 && IsLeadByte(bad[0]))
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
    } else {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

char UnicodeTo1252(unsigned codePoint) {
    if (codePoint < 0x80)
        return static_cast<char>(codePoint);
    for (unsigned b = 0x80; b < 0x100; ++b)
        if (kCp1252ToUnicode[b] == codePoint)
            return static_cast<char>(b);
    return '?';
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
        const char *value = getenv("MORVIK_ANSI_CODEPAGE");
        codePage = (value && strcmp(value, "932") == 0) ? 932 : 1252;
    }
    return codePage;
}

void ResetCodePage() {
    codePage = 0;
}

bool IsLeadByte(unsigned char c) {
    return AnsiCodePage() == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
}

std::string AnsiToUtf8(const char *ansi, size_t length) {
    if (AnsiCodePage() == 932)
        return Convert(OpenConverter("UTF-8", "CP932", &ansiToUtf8), ansi, length, false);
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i)
        AppendUtf8(out, kCp1252ToUnicode[static_cast<unsigned char>(ansi[i])]);
    return out;
}

std::string AnsiToUtf8(const char *ansi) {
    return ansi ? AnsiToUtf8(ansi, strlen(ansi)) : "";
}

std::string Utf8ToAnsi(const std::string &utf8) {
    if (AnsiCodePage() == 932)
        return Convert(OpenConverter("CP932", "UTF-8", &utf8ToAnsi), utf8.data(), utf8.size(),
                       true);
    std::string out;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(utf8.data());
    size_t left = utf8.size();
    while (left > 0) {
        unsigned codePoint = 0;
        size_t n = DecodeUtf8(p, left, &codePoint);
        if (n == 0) {
            out += '?';
            n = Utf8SequenceLength(p, left);
        } else {
            out += UnicodeTo1252(codePoint);
        }
        p += n;
        left -= n;
    }
    return out;
}

} // namespace host

bool HostSetAnsiCodePage(unsigned codePage) {
    if (codePage != 1252 && codePage != 932)
        return false;
    host::codePage = codePage;
    return true;
}

unsigned HostAnsiCodePage() {
    return host::AnsiCodePage();
}

std::string HostAnsiToUtf8(const char *ansi) {
    return host::AnsiToUtf8(ansi);
}

std::string HostUtf8ToAnsi(const char *utf8) {
    return host::Utf8ToAnsi(utf8 ? utf8 : "");
}

// ---- the Windows calls ------------------------------------------------------

BOOL WINAPI OemToCharBuffA(LPCSTR from, LPSTR to, DWORD length) {
    if (!from || !to)
        return FALSE;
    if (host::AnsiCodePage() == 932) {
        memmove(to, from, length);
        return TRUE;
    }
    for (DWORD i = 0; i < length; ++i)
        to[i] = static_cast<char>(host::kOemToAnsi[static_cast<unsigned char>(from[i])]);
    return TRUE;
}

BOOL WINAPI OemToCharA(LPCSTR from, LPSTR to) {
    if (!from || !to)
        return FALSE;
    return OemToCharBuffA(from, to, static_cast<DWORD>(strlen(from) + 1));
}

BOOL WINAPI CharToOemA(LPCSTR from, LPSTR to) {
    if (!from || !to)
        return FALSE;
    size_t length = strlen(from) + 1;
    if (host::AnsiCodePage() == 932) {
        memmove(to, from, length);
        return TRUE;
    }
    for (size_t i = 0; i < length; ++i)
        to[i] = static_cast<char>(host::kAnsiToOem[static_cast<unsigned char>(from[i])]);
    return TRUE;
}

LPSTR WINAPI CharNextA(LPCSTR s) {
    if (!s || !*s)
        return const_cast<LPSTR>(s);
    if (host::IsLeadByte(static_cast<unsigned char>(s[0])) && s[1] != '\0')
        return const_cast<LPSTR>(s + 2);
    return const_cast<LPSTR>(s + 1);
}
