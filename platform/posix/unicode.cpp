// MultiByteToWideChar and WideCharToMultiByte between UTF-16 and the byte
// encodings: UTF-8, the process's ANSI and OEM code pages, and any code page
// the layer knows (codepage.cpp).
#include "posix/host_internal.h"
#include "posix/winapi.h"

#include <string.h>

#include <string>
#include <vector>

namespace {

// Decodes UTF-8 into code points; false when the bytes are not valid UTF-8.
bool DecodeUtf8(const unsigned char *p, size_t length, std::vector<unsigned> &out) {
    for (size_t i = 0; i < length;) {
        unsigned codePoint;
        size_t n = host::DecodeUtf8(p + i, length - i, &codePoint);
        if (n == 0)
            return false;
        out.push_back(codePoint);
        i += n;
    }
    return true;
}

void EncodeUtf8(unsigned c, std::string &out) {
    if (c < 0x80) {
        out += (char)c;
    } else if (c < 0x800) {
        out += (char)(0xC0 | c >> 6);
        out += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += (char)(0xE0 | c >> 12);
        out += (char)(0x80 | (c >> 6 & 0x3F));
        out += (char)(0x80 | (c & 0x3F));
    } else {
        out += (char)(0xF0 | c >> 18);
        out += (char)(0x80 | (c >> 12 & 0x3F));
        out += (char)(0x80 | (c >> 6 & 0x3F));
        out += (char)(0x80 | (c & 0x3F));
    }
}

// CP_ACP and CP_OEMCP stand for the process's code pages.
UINT Resolve(UINT codePage) {
    return codePage == CP_ACP     ? host::AnsiCodePage()
           : codePage == CP_OEMCP ? host::OemCodePage()
                                  : codePage;
}

int Deliver(const std::vector<WCHAR> &units, LPWSTR wide, int wideSize) {
    if (wideSize == 0)
        return (int)units.size();
    if ((int)units.size() > wideSize)
        return 0;
    memcpy(wide, units.data(), units.size() * sizeof(WCHAR));
    return (int)units.size();
}

} // namespace

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                               int wideSize) {
    if (!text || wideSize < 0)
        return 0;
    size_t count = length < 0 ? strlen(text) + 1 : (size_t)length;
    codePage = Resolve(codePage);
    if (!host::KnownCodePage(codePage))
        return 0;
    std::string utf8;
    if (codePage == CP_UTF8) {
        utf8.assign(text, count);
    } else {
        bool invalid = false;
        utf8 = host::CodePageToUtf8(codePage, text, count, &invalid);
        if (invalid && (flags & MB_ERR_INVALID_CHARS))
            return 0;
    }
    std::vector<unsigned> points;
    if (!DecodeUtf8((const unsigned char *)utf8.data(), utf8.size(), points)) {
        if (flags & MB_ERR_INVALID_CHARS)
            return 0;
        points.clear();
        for (unsigned char c : utf8) // undecodable bytes become U+FFFD
            points.push_back(c < 0x80 ? c : 0xFFFD);
    }
    std::vector<WCHAR> units;
    for (unsigned c : points) {
        if (c >= 0x10000) {
            c -= 0x10000;
            units.push_back((WCHAR)(0xD800 | c >> 10));
            units.push_back((WCHAR)(0xDC00 | (c & 0x3FF)));
        } else {
            units.push_back((WCHAR)c);
        }
    }
    return Deliver(units, wide, wideSize);
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int wideLength, LPSTR text,
                               int size, LPCSTR, LPBOOL usedDefault) {
    if (!wide || size < 0)
        return 0;
    size_t count = 0;
    if (wideLength < 0) {
        while (wide[count])
            count++;
        count++;
    } else {
        count = (size_t)wideLength;
    }
    std::string utf8;
    for (size_t i = 0; i < count; i++) {
        unsigned c = wide[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            i++;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        EncodeUtf8(c, utf8);
    }
    std::string bytes = utf8;
    codePage = Resolve(codePage);
    if (!host::KnownCodePage(codePage))
        return 0;
    if (codePage != CP_UTF8) {
        // Characters the code page lacks become '?'.
        bool defaulted = false;
        bytes = host::Utf8ToCodePage(codePage, utf8, &defaulted);
        if (usedDefault)
            *usedDefault = defaulted;
    } else if (usedDefault) {
        *usedDefault = FALSE;
    }
    if (size == 0)
        return (int)bytes.size();
    if ((int)bytes.size() > size)
        return 0;
    memcpy(text, bytes.data(), bytes.size());
    return (int)bytes.size();
}
