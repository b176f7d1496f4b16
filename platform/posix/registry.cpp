// The registry on the native host: a plain text file (see host.h for its
// format), read afresh at every query.
#include "posix/host_internal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

namespace {

const LONG kInvalidParameter = 87;

std::string RegistryFile() {
    const char *value = getenv("MORVIK_REGISTRY");
    if (value && *value)
        return value;
    return host::HomeFolder() + "/.morvik/registry.txt";
}

std::string Trim(const std::string &text) {
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos)
        return std::string();
    size_t end = text.find_last_not_of(" \t");
    return text.substr(start, end - start + 1);
}

enum class Found { nothing, key, value };

// What the file holds for `key` (UTF-8): its default value, or only the key
// itself (a line naming the key without "=", or a line of a key below it),
// or nothing (no file, no such key). The first line that gives a value wins.
Found LookUp(const std::string &key, std::string *value) {
    FILE *file = fopen(RegistryFile().c_str(), "rb");
    if (!file)
        return Found::nothing;
    Found found = Found::nothing;
    std::string line;
    int c;
    do {
        c = fgetc(file);
        if (c != EOF && c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] != ';' && line[0] != '#') {
            size_t equals = line.find('=');
            std::string name = Trim(line.substr(0, equals));
            if (name.size() == key.size() && strcasecmp(name.c_str(), key.c_str()) == 0) {
                if (equals != std::string::npos) {
                    *value = line.substr(equals + 1);
                    found = Found::value;
                    break;
                }
                found = Found::key;
            } else if (name.size() > key.size() && name[key.size()] == '\\' &&
                       strncasecmp(name.c_str(), key.c_str(), key.size()) == 0) {
                found = Found::key; // a key below it: the key exists
            }
        }
        line.clear();
    } while (c != EOF);
    fclose(file);
    return found;
}

} // namespace

LONG WINAPI RegQueryValueA(HKEY key, LPCSTR subKey, LPSTR value, PLONG size) {
    if (key != HKEY_CLASSES_ROOT)
        return ERROR_FILE_NOT_FOUND;
    std::string path = "HKEY_CLASSES_ROOT";
    if (subKey && *subKey) {
        path += '\\';
        path += host::AnsiToUtf8(subKey);
    }
    // A key that exists without a default value reads as an empty string,
    // as RegQueryValue does on Windows.
    std::string stored;
    if (LookUp(path, &stored) == Found::nothing)
        return ERROR_FILE_NOT_FOUND;
    const std::string ansi = host::Utf8ToAnsi(stored);
    const LONG needed = static_cast<LONG>(ansi.size() + 1);
    if (!value) {
        if (size)
            *size = needed;
        return ERROR_SUCCESS;
    }
    if (!size)
        return kInvalidParameter;
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    memcpy(value, ansi.c_str(), ansi.size() + 1);
    *size = needed;
    return ERROR_SUCCESS;
}
