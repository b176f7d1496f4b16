#include "tools/pack/member_names.h"

#include "tools/pack/zip_format.h"

#include <cstdio>

namespace pack {

bool HasNonAscii(const std::string &bytes) {
    for (unsigned char c : bytes)
        if (c >= 0x80)
            return true;
    return false;
}

bool IsValidUtf8(const std::string &bytes) {
    const size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        uint32_t code;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (n - i < length)
            return false;
        for (size_t k = 1; k < length; ++k) {
            unsigned char t = static_cast<unsigned char>(bytes[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            code = code << 6 | (t & 0x3F);
        }
        if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

static bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// Windows takes these names, with any extension and trailing blanks, for
// devices rather than files.
static bool IsDeviceName(const std::string &component) {
    size_t base = component.find('.');
    if (base == std::string::npos)
        base = component.size();
    while (base > 0 && component[base - 1] == ' ')
        --base;
    if (base < 3 || base > 4)
        return false;
    std::string upper;
    for (size_t i = 0; i < base; ++i) {
        char c = component[i];
        upper += (c >= 'a' && c <= 'z') ? char(c - 32) : c;
    }
    if (base == 3)
        return upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL";
    return (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
           upper[3] >= '1' && upper[3] <= '9';
}

std::string NameProblem(const std::string &name, bool folder) {
    if (name.size() > kMaxNameLength)
        return "its name is " + std::to_string(name.size()) +
               " bytes long; the stub takes at most " + std::to_string(int(kMaxNameLength));
    if (!folder && name.empty())
        return "a file member with an empty name";
    if (folder && (name.empty() || IsSeparator(name[0])))
        return "a folder member whose name is empty or begins with a separator, which the stub "
               "cannot create";
    if (name.find('\0') != std::string::npos)
        return "its name holds a NUL byte";
    if (name.find(':') != std::string::npos)
        return "its name holds a colon (a drive or a stream), which the stub refuses";
    if (name.size() >= 2 && IsSeparator(name[0]) && IsSeparator(name[1]))
        return "its name begins with two separators (a network or root path), which the stub "
               "refuses";
    for (unsigned char c : name)
        if (c < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
            return "its name holds a character that Windows file names cannot hold";
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && !IsSeparator(name[i]))
            continue;
        std::string component = name.substr(start, i - start);
        if (component == "..")
            return "its name has a \"..\" component (it would write outside the unzip folder), "
                   "which the stub refuses";
        if (IsDeviceName(component))
            return "its name has the component \"" + component +
                   "\", a device name on Windows, which the stub refuses";
        // Windows drops a trailing dot or blank from a file name, so the
        // member would land under another name, or on another member.
        if (!component.empty() && component != "." &&
            (component.back() == '.' || component.back() == ' '))
            return "its name has the component \"" + component +
                   "\", which ends in a dot or a blank that Windows drops";
        // An empty component inside the name (a//b) is a folder the stub
        // cannot create.
        if (component.empty() && start > 0 && i < name.size())
            return "its name has an empty component (two separators in a row)";
        start = i + 1;
    }
    return "";
}

std::string Printable(const std::string &name) {
    std::string out;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    return out;
}

} // namespace pack
