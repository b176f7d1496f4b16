// ANSI string calls on the native host, and wsprintfA.
#include "posix/host_internal.h"

#include <stdarg.h>
#include <string.h>

namespace {

int Sign(int difference) {
    return difference < 0 ? -1 : (difference > 0 ? 1 : 0);
}

int FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}

// Collects the output of wsprintfA; like the real one it writes at most 1024
// bytes, the terminating NUL included.
struct Output {
    char *buffer;
    size_t length;
    static const size_t kMaxChars = 1023;

    void Put(char c) {
        if (length < kMaxChars)
            buffer[length++] = c;
    }
    void Repeat(char c, int count) {
        for (int i = 0; i < count; ++i)
            Put(c);
    }
};

struct Conversion {
    bool leftAlign = false;
    bool zeroPad = false;
    bool alternate = false;
    int width = 0;
    int precision = -1;
};

// Writes `digits` (with a sign or "0x" prefix) padded to the conversion's width.
void PutNumber(Output &out, const Conversion &conversion, const char *prefix, const char *digits) {
    int digitCount = static_cast<int>(strlen(digits));
    int zeros = conversion.precision > digitCount ? conversion.precision - digitCount : 0;
    if (conversion.precision == 0 && strcmp(digits, "0") == 0)
        digitCount = 0; // an explicit precision of 0 prints no digit for 0
    int body = static_cast<int>(strlen(prefix)) + zeros + digitCount;
    int padding = conversion.width > body ? conversion.width - body : 0;
    if (conversion.zeroPad && !conversion.leftAlign && conversion.precision < 0) {
        zeros += padding;
        padding = 0;
    }
    if (!conversion.leftAlign)
        out.Repeat(' ', padding);
    for (const char *p = prefix; *p; ++p)
        out.Put(*p);
    out.Repeat('0', zeros);
    for (int i = 0; i < digitCount; ++i)
        out.Put(digits[i]);
    if (conversion.leftAlign)
        out.Repeat(' ', padding);
}

void ToDigits(unsigned value, unsigned base, bool upper, char *digits) {
    const char *set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char reversed[16];
    int n = 0;
    do {
        reversed[n++] = set[value % base];
        value /= base;
    } while (value != 0);
    while (n > 0)
        *digits++ = reversed[--n];
    *digits = '\0';
}

// The conversions the stub's messages use: %d %i %u %x %X %c %s %%, with the
// flags '-', '0' and '#', a width, a precision and the size prefixes 'l' and
// 'h'. As on Win32, "l" means 32 bits: LONG and DWORD are 32 bits wide here
// even where the host's long is not, so every integer is read as an int.
int Format(char *buffer, const char *format, va_list args) {
    Output out{buffer, 0};
    for (const char *p = format; *p; ++p) {
        if (*p != '%') {
            out.Put(*p);
            continue;
        }
        ++p;
        Conversion conversion;
        for (;; ++p) {
            if (*p == '-')
                conversion.leftAlign = true;
            else if (*p == '0')
                conversion.zeroPad = true;
            else if (*p == '#')
                conversion.alternate = true;
            else
                break;
        }
        while (*p >= '0' && *p <= '9')
            conversion.width = conversion.width * 10 + (*p++ - '0');
        if (*p == '.') {
            conversion.precision = 0;
            for (++p; *p >= '0' && *p <= '9'; ++p)
                conversion.precision = conversion.precision * 10 + (*p - '0');
        }
        bool shortSize = false;
        if (*p == 'l') {
            ++p;
        } else if (*p == 'h') {
            shortSize = true;
            ++p;
        }
        char digits[16];
        switch (*p) {
        case '\0':
            --p; // the format ends inside a conversion
            break;
        case 'd':
        case 'i': {
            int value = va_arg(args, int);
            if (shortSize)
                value = static_cast<short>(value);
            unsigned magnitude =
                value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
            ToDigits(magnitude, 10, false, digits);
            PutNumber(out, conversion, value < 0 ? "-" : "", digits);
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            unsigned value = va_arg(args, unsigned);
            if (shortSize)
                value = static_cast<unsigned short>(value);
            bool hex = *p != 'u';
            ToDigits(value, hex ? 16 : 10, *p == 'X', digits);
            const char *prefix = (hex && conversion.alternate) ? (*p == 'X' ? "0X" : "0x") : "";
            PutNumber(out, conversion, prefix, digits);
            break;
        }
        case 'c': {
            char c = static_cast<char>(va_arg(args, int));
            int padding = conversion.width > 1 ? conversion.width - 1 : 0;
            if (!conversion.leftAlign)
                out.Repeat(conversion.zeroPad ? '0' : ' ', padding);
            out.Put(c);
            if (conversion.leftAlign)
                out.Repeat(' ', padding);
            break;
        }
        case 's': {
            const char *s = va_arg(args, const char *);
            if (!s)
                s = "(null)";
            int length = static_cast<int>(strlen(s));
            if (conversion.precision >= 0 && conversion.precision < length)
                length = conversion.precision;
            int padding = conversion.width > length ? conversion.width - length : 0;
            if (!conversion.leftAlign)
                out.Repeat(conversion.zeroPad ? '0' : ' ', padding);
            for (int i = 0; i < length; ++i)
                out.Put(s[i]);
            if (conversion.leftAlign)
                out.Repeat(' ', padding);
            break;
        }
        default: // "%%", and any unknown conversion character, stands for itself
            out.Put(*p);
            break;
        }
    }
    buffer[out.length] = '\0';
    return static_cast<int>(out.length);
}

} // namespace

int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) {
    if (!a || !b)
        return Sign((a ? 1 : 0) - (b ? 1 : 0));
    return Sign(strcmp(a, b));
}

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
    if (!a || !b)
        return Sign((a ? 1 : 0) - (b ? 1 : 0));
    const unsigned char *x = reinterpret_cast<const unsigned char *>(a);
    const unsigned char *y = reinterpret_cast<const unsigned char *>(b);
    while (*x && FoldAscii(*x) == FoldAscii(*y))
        ++x, ++y;
    return Sign(FoldAscii(*x) - FoldAscii(*y));
}

int WINAPI lstrlenA(LPCSTR s) {
    return s ? static_cast<int>(strlen(s)) : 0;
}

LPSTR WINAPI lstrcpyA(LPSTR to, LPCSTR from) {
    if (!to || !from)
        return nullptr;
    memmove(to, from, strlen(from) + 1);
    return to;
}

// Copies at most size - 1 characters and always terminates (when size > 0).
LPSTR WINAPI lstrcpynA(LPSTR to, LPCSTR from, int size) {
    if (!to || !from)
        return nullptr;
    if (size <= 0)
        return to;
    int n = 0;
    while (n < size - 1 && from[n] != '\0') {
        to[n] = from[n];
        ++n;
    }
    to[n] = '\0';
    return to;
}

LPSTR WINAPI lstrcatA(LPSTR to, LPCSTR from) {
    if (!to || !from)
        return nullptr;
    memmove(to + strlen(to), from, strlen(from) + 1);
    return to;
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    if (!buffer || !format)
        return 0;
    va_list args;
    va_start(args, format);
    int n = Format(buffer, format, args);
    va_end(args);
    return n;
}
