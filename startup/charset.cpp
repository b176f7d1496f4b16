// The character sets of the stub's texts. The stub works in the ANSI
// character set of the process. On current Windows the manifest makes that
// UTF-8, in which every name can be created; GetOEMCP then reports UTF-8 as
// well, so the OEM code page in which the ZIP convention and the message
// table store their texts is taken from the user's locale instead.
#include "startup/startup.h"

#include <string.h>

enum {
    FALLBACK_OEM_CODE_PAGE = 437, // the ZIP convention's own
    FALLBACK_ANSI_CODE_PAGE = 1252,
    LONGEST_TEXT = TRAILER_MAX_SIZE, // no text converted here is longer
};

const char utf8Mark[UTF8_MARK_SIZE + 1] = "\xEF\xBB\xBF";

BOOL Utf8CodePage() {
    return GetACP() == CP_UTF8;
}

// A code page of the user's locale; `fallback` when the locale has none
// but UTF-8 to give.
static UINT LocaleCodePage(LCTYPE type, UINT fallback) {
    DWORD value = 0;
    if (!GetLocaleInfoW(LOCALE_USER_DEFAULT, type | LOCALE_RETURN_NUMBER, (LPWSTR)&value,
                        sizeof value / sizeof(WCHAR)) ||
        value == 0 || value == CP_UTF8)
        return fallback;
    return value;
}

UINT LegacyOemCodePage() {
    UINT codePage = GetOEMCP();
    return codePage != CP_UTF8 ? codePage
                               : LocaleCodePage(LOCALE_IDEFAULTCODEPAGE, FALLBACK_OEM_CODE_PAGE);
}

UINT LegacyAnsiCodePage() {
    UINT codePage = GetACP();
    return codePage != CP_UTF8
               ? codePage
               : LocaleCodePage(LOCALE_IDEFAULTANSICODEPAGE, FALLBACK_ANSI_CODE_PAGE);
}

BOOL IsUtf8Text(const char *text) {
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, NULL, 0) != 0;
}

// The length of the longest start of `text` (`length` bytes in code page
// `codePage`) that ends on a character boundary and has at most `limit`
// bytes.
static int WholeCharacters(const char *text, int length, int limit, UINT codePage) {
    if (length <= limit)
        return length;
    if (codePage == CP_UTF8) {
        while (limit > 0 && ((unsigned char)text[limit] & 0xC0) == 0x80)
            limit--;
        return limit;
    }
    if (codePage != CP_ACP)
        return limit;
    int end = 0;
    for (const char *p = text; *p;) {
        const char *next = CharNextA(p);
        if (next - text > limit)
            break;
        end = (int)(next - text);
        p = next;
    }
    return end;
}

int RecodeText(UINT from, UINT to, const char *text, int length, char *target, int size,
               BOOL *whole) {
    WCHAR wide[LONGEST_TEXT + 1];
    char converted[3 * LONGEST_TEXT + 1];
    int units = length > 0 ? MultiByteToWideChar(from, 0, text, length, wide, LONGEST_TEXT) : 0;
    int bytes = units > 0 ? WideCharToMultiByte(to, 0, wide, units, converted,
                                                (int)sizeof converted - 1, NULL, NULL)
                          : 0;
    if (length > 0 && bytes == 0) {
        // Not convertible (a code page this system lacks): the bytes stay.
        bytes = length < (int)sizeof converted - 1 ? length : (int)sizeof converted - 1;
        memcpy(converted, text, (size_t)bytes);
    }
    converted[bytes] = 0;
    int kept = WholeCharacters(converted, bytes, size - 1, to);
    memcpy(target, converted, (size_t)kept);
    target[kept] = 0;
    if (whole)
        *whole = kept == bytes;
    return kept;
}
