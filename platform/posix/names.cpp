// File names as Windows treats them, on their way to the host: characters
// Windows refuses in a name, trailing dots and blanks that Windows drops, and
// names matched without regard to letter case.
//
// Windows' rules, as its path normalisation applies them:
// - a name holding one of < > " | ? * or a control character (1 to 31) is
//   refused with ERROR_INVALID_NAME (FindFirstFileA takes * ? < > " in the
//   last component as wildcards);
// - the last component loses all its trailing dots and blanks ("a. ." is
//   "a"); every other component loses one trailing dot ("a.\b" is "a\b");
//   "." and ".." are left alone;
// - a component names an entry of its folder whose name differs in letter
//   case only; an entry with the exact name wins. Folding covers ASCII,
//   Latin-1, Latin Extended-A, Greek, Cyrillic and the full-width letters.
//
// A folder's names, folded, are kept after a first look and used while the
// folder's modification and change times and identity stay the same; entries
// this layer makes are added as it makes them.
#include "posix/host_internal.h"

#include <dirent.h>
#include <string.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

namespace host {
namespace {

// Simple upper-case mapping of one code point.
unsigned FoldCodePoint(unsigned c) {
    if (c < 0x80)
        return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return c - 0x20;
    if (c == 0xFF)
        return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x131)
            return 'I';
        if (c == 0x17F)
            return 'S';
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
            return (c % 2 == 0) ? c - 1 : c; // odd upper, even lower
        if (c == 0x130 || c == 0x138 || c == 0x149 || c == 0x178)
            return c;
        return c & ~1u; // even upper, odd lower
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2)
        return c - 0x20;
    if (c == 0x3C2)
        return 0x3A3;
    if (c >= 0x430 && c <= 0x44F)
        return c - 0x20;
    if (c >= 0x450 && c <= 0x45F)
        return c - 0x50;
    if (c >= 0xFF41 && c <= 0xFF5A)
        return c - 0x20;
    return c;
}

// A UTF-8 name folded for comparison: code points upper-cased and written
// back as numbers; bytes that are no valid UTF-8 stand for themselves.
std::string Fold(const std::string &name) {
    std::string out;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(name.data());
    size_t left = name.size();
    while (left > 0) {
        unsigned c = 0;
        size_t n = DecodeUtf8(p, left, &c);
        if (n == 0) {
            c = 0x110000u + *p; // outside Unicode: cannot meet a real character
            n = 1;
        }
        c = FoldCodePoint(c);
        out.append(reinterpret_cast<const char *>(&c), sizeof c);
        p += n;
        left -= n;
    }
    return out;
}

struct Listing {
    dev_t dev = 0;
    ino_t ino = 0;
    struct timespec mtime {};
    struct timespec ctime {};
    std::map<std::string, std::string> names; // folded -> as on disk
};
std::map<std::string, Listing> listings;

bool SameTime(const struct timespec &a, const struct timespec &b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool Matches(const Listing &l, const struct stat &st) {
    return l.dev == st.st_dev && l.ino == st.st_ino && SameTime(l.mtime, st.st_mtim) &&
           SameTime(l.ctime, st.st_ctim);
}

// The folded names of a folder; null when it cannot be read.
std::string FolderKey(const std::string &folder) {
    std::string key = folder.empty() ? "." : folder;
    while (key.size() > 1 && key.back() == '/')
        key.pop_back();
    return key;
}

const Listing *ListingOf(const std::string &folder) {
    const std::string key = FolderKey(folder);
    struct stat st;
    if (stat(key.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        listings.erase(key);
        return nullptr;
    }
    auto found = listings.find(key);
    if (found != listings.end() && Matches(found->second, st))
        return &found->second;
    DIR *dir = opendir(key.c_str());
    if (!dir)
        return nullptr;
    Listing l;
    while (struct dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        l.names.emplace(Fold(name), name); // the first of names alike in fold wins
    }
    closedir(dir);
    l.dev = st.st_dev;
    l.ino = st.st_ino;
    l.mtime = st.st_mtim;
    l.ctime = st.st_ctim;
    if (listings.size() > 256)
        listings.clear();
    Listing &kept = listings[key];
    kept = std::move(l);
    return &kept;
}

std::string Join(const std::string &folder, const std::string &name) {
    if (folder.empty())
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

bool Exists(const std::string &path) {
    struct stat st;
    return lstat(path.empty() ? "." : path.c_str(), &st) == 0;
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The characters Windows refuses in a name; `wildcards` lets through the
// five that FindFirstFileA takes as wildcards.
bool IsInvalidNameChar(unsigned char c, bool wildcards) {
    if (c >= 1 && c <= 31)
        return true;
    switch (c) {
    case '|':
        return true;
    case '<':
    case '>':
    case '"':
    case '?':
    case '*':
        return !wildcards;
    default:
        return false;
    }
}

} // namespace

bool HasWildcard(const std::string &name) {
    return name.find_first_of("*?<>\"") != std::string::npos;
}

bool WildcardMatch(const std::string &pattern, const std::string &name) {
    // '<' and '>' and '"' are DOS_STAR, DOS_QM and DOS_DOT: near enough to
    // '*', '?' and '.' for the names asked for here.
    std::string p;
    for (char c : pattern)
        p += c == '<' ? '*' : c == '>' ? '?' : c == '"' ? '.' : c;
    // "x.*" also matches "x" (no extension), as on Windows.
    if (p.size() >= 2 && p.compare(p.size() - 2, 2, ".*") == 0 &&
        WildcardMatch(p.substr(0, p.size() - 2), name))
        return true;
    const std::string fp = Fold(p), fn = Fold(name);
    // Folded strings hold 4 bytes per character; match unit by unit.
    const size_t unit = sizeof(unsigned);
    const size_t np = fp.size() / unit, nn = fn.size() / unit;
    auto at = [&](const std::string &s, size_t i) {
        unsigned c;
        memcpy(&c, s.data() + i * unit, unit);
        return c;
    };
    size_t i = 0, j = 0, star = std::string::npos, mark = 0;
    while (j < nn) {
        if (i < np && (at(fp, i) == '?' || at(fp, i) == at(fn, j))) {
            ++i;
            ++j;
        } else if (i < np && at(fp, i) == '*') {
            star = i++;
            mark = j;
        } else if (star != std::string::npos) {
            i = star + 1;
            j = ++mark;
        } else {
            return false;
        }
    }
    while (i < np && at(fp, i) == '*')
        ++i;
    return i == np;
}

std::vector<std::string> FolderEntriesMatching(const std::string &folder,
                                               const std::string &pattern) {
    std::vector<std::string> found;
    DIR *dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return found;
    while (struct dirent *entry = readdir(dir))
        if (WildcardMatch(pattern, entry->d_name))
            found.push_back(entry->d_name);
    closedir(dir);
    return found;
}

void NoteEntryMade(const std::string &hostPath) {
    size_t slash = hostPath.find_last_of('/');
    std::string folder = FolderKey(slash == std::string::npos ? "." : hostPath.substr(0, slash));
    if (slash == 0)
        folder = "/";
    std::string name = slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
    auto found = listings.find(folder);
    if (found == listings.end())
        return;
    struct stat st;
    if (stat(folder.c_str(), &st) != 0) {
        listings.erase(found);
        return;
    }
    found->second.names.emplace(Fold(name), name);
    found->second.mtime = st.st_mtim;
    found->second.ctime = st.st_ctim;
}

void ForgetFolderNames() {
    listings.clear();
}

std::string WindowsPathToHost(const char *ansi, bool wildcards, DWORD *error, Presence *presence,
                              struct stat *found) {
    *error = NO_ERROR;
    Presence ignored;
    if (!presence)
        presence = &ignored;
    *presence = Presence::unknown;
    const std::string utf8 = AnsiToUtf8(ansi);
    std::string root;
    size_t at = 0;
    if (utf8.size() >= 2 && IsLetter(utf8[0]) && utf8[1] == ':') {
        root = DriveLink(utf8[0]);
        if (root.empty()) {
            *error = ERROR_PATH_NOT_FOUND;
            return root; // no such drive
        }
        root += '/';
        at = 2;
    } else if (!utf8.empty() && (utf8[0] == '/' || utf8[0] == '\\')) {
        root = "/";
        at = 1;
    }
    if (utf8.empty()) {
        *error = ERROR_PATH_NOT_FOUND;
        return std::string();
    }
    // The components (runs of separators count as one); a path that ends in
    // a separator names a folder.
    std::vector<std::string> parts;
    std::string part;
    bool endsInSeparator = utf8.size() > at && (utf8.back() == '/' || utf8.back() == '\\');
    for (size_t i = at; i <= utf8.size(); ++i) {
        if (i < utf8.size() && utf8[i] != '/' && utf8[i] != '\\') {
            part += utf8[i];
            continue;
        }
        if (!part.empty())
            parts.push_back(part);
        part.clear();
    }
    // Refused characters; wildcards only in the last component, and only for
    // a search.
    for (size_t k = 0; k < parts.size(); ++k) {
        const bool last = k + 1 == parts.size() && !endsInSeparator;
        for (char c : parts[k])
            if (IsInvalidNameChar(static_cast<unsigned char>(c), wildcards && last)) {
                *error = ERROR_INVALID_NAME;
                return std::string();
            }
    }
    // Trailing dots and blanks.
    for (size_t k = 0; k < parts.size(); ++k) {
        std::string &p = parts[k];
        if (p == "." || p == ".." || p.empty())
            continue;
        if (k + 1 == parts.size() && !endsInSeparator) {
            while (!p.empty() && (p.back() == '.' || p.back() == ' '))
                p.pop_back();
            if (p.empty())
                endsInSeparator = true; // "a\..." names the folder a itself
        } else if (p.back() == '.') {
            p.pop_back();
        }
    }
    if (!parts.empty() && parts.back().empty())
        parts.pop_back();

    // The exact path first: one look when it is there as written.
    std::string exact = root;
    for (size_t k = 0; k < parts.size(); ++k)
        exact = (k == 0 && exact.empty()) ? parts[k] : Join(exact, parts[k]);
    std::string result = exact;
    struct stat st;
    if (!parts.empty() && lstat(exact.c_str(), &st) == 0) {
        if (!endsInSeparator) {
            *presence = Presence::there;
            if (found)
                *found = st;
        }
    } else if (!parts.empty()) {
        // The deepest folder that is there as written, then the rest matched
        // without regard to case, as far as it goes.
        // The folder of the last component is usually there: its listing,
        // which looks at it anyway, answers for it.
        size_t known = parts.size() - 1;
        std::string folder;
        const Listing *lastFolder = nullptr;
        for (;; --known) {
            folder = root;
            for (size_t k = 0; k < known; ++k)
                folder = (k == 0 && folder.empty()) ? parts[k] : Join(folder, parts[k]);
            if (known == parts.size() - 1 && (lastFolder = ListingOf(folder)) != nullptr)
                break;
            if (known == 0 || (known < parts.size() - 1 && Exists(folder)))
                break;
        }
        for (size_t k = known; k < parts.size(); ++k) {
            const std::string &p = parts[k];
            std::string name = p;
            if (p != "." && p != "..") {
                const Listing *l =
                    k + 1 == parts.size() && lastFolder ? lastFolder : ListingOf(folder);
                if (l) {
                    auto entry = l->names.find(Fold(p));
                    if (entry != l->names.end())
                        name = entry->second;
                    else if (k + 1 == parts.size() && !endsInSeparator)
                        *presence = Presence::missing; // in a folder that is there
                }
            }
            folder = (folder.empty()) ? name : Join(folder, name);
        }
        result = folder;
    }
    if (endsInSeparator && (result.empty() || result.back() != '/'))
        result += '/';
    if (result.empty())
        result = root.empty() ? "." : root;
    return result;
}

} // namespace host
