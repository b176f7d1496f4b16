// Drive letters, Windows-style paths and the module file name on the native
// host.
//
// Drive letters follow the convention of a Wine prefix: MORVIK_DOSDEVICES
// names a folder of symlinks "a:", "c:" ... that point at host folders, so
// "X:\rest" is <target of x:>/rest. A path starting with "/" is a host path;
// any other path is relative to the current folder. Both "\" and "/"
// separate components; names are converted from the ANSI code page to UTF-8.
#include "posix/host.h"
#include "posix/host_internal.h"

#include <errno.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host {
namespace {

std::string modulePathOverride;
bool moduleOverridden = false;

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string RealPath(const std::string &path) {
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved))
        return std::string();
    return resolved;
}

// The host folder at the root of `root` ("X:\", "X:", or "/:\" for the host's
// own root). False when `root` names no drive at all.
bool DriveRootFolder(const char *root, std::string *folder, char *letter) {
    if (!root || root[0] == '\0' || root[1] != ':')
        return false;
    if (root[2] != '\0' && root[2] != '\\' && root[2] != '/')
        return false;
    if (root[0] == '/') {
        *folder = "/";
        *letter = '/';
        return true;
    }
    if (!IsAsciiLetter(root[0]))
        return false;
    *letter = Lower(root[0]);
    *folder = DriveLink(root[0]);
    return !folder->empty();
}

bool LinkExists(const std::string &link) {
    struct stat st;
    return !link.empty() && lstat(link.c_str(), &st) == 0;
}

} // namespace

std::string DosDevicesFolder() {
    const char *value = getenv("MORVIK_DOSDEVICES");
    return (value && *value) ? std::string(value) : std::string();
}

std::string DriveLink(char letter) {
    std::string folder = DosDevicesFolder();
    if (folder.empty() || !IsAsciiLetter(letter))
        return std::string();
    folder += '/';
    folder += Lower(letter);
    folder += ':';
    return folder;
}

std::string ToHostPath(const char *ansi) {
    std::string utf8 = AnsiToUtf8(ansi);
    std::string out;
    size_t rest = 0;
    if (utf8.size() >= 2 && IsAsciiLetter(utf8[0]) && utf8[1] == ':') {
        out = DriveLink(utf8[0]);
        if (out.empty())
            return out; // no such drive: a path that names nothing
        rest = 2;
        if (rest == utf8.size() || (utf8[rest] != '\\' && utf8[rest] != '/'))
            out += '/';
    }
    // After the conversion to UTF-8 a 0x5C byte is always a real backslash,
    // never the second byte of a double-byte character.
    for (size_t i = rest; i < utf8.size(); ++i)
        out += (utf8[i] == '\\') ? '/' : utf8[i];
    return out;
}

std::string ToDosForm(const std::string &hostPath) {
    std::string folder = DosDevicesFolder();
    if (folder.empty() || hostPath.empty() || hostPath[0] != '/')
        return hostPath;
    char bestLetter = 0;
    size_t bestLength = 0;
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        std::string target = RealPath(DriveLink(letter));
        if (target.empty())
            continue;
        size_t length;
        if (target == "/")
            length = 0; // covers everything; the rest starts at the first "/"
        else if (hostPath.compare(0, target.size(), target) == 0 &&
                 (hostPath.size() == target.size() || hostPath[target.size()] == '/'))
            length = target.size();
        else
            continue;
        if (bestLetter == 0 || length > bestLength) {
            bestLetter = letter;
            bestLength = length;
        }
    }
    if (bestLetter == 0)
        return hostPath;
    std::string out(1, Upper(bestLetter));
    out += ':';
    std::string rest = hostPath.substr(bestLength);
    if (rest.empty())
        rest = "/";
    for (char c : rest)
        out += (c == '/') ? '\\' : c;
    return out;
}

std::string HomeFolder() {
    const char *home = getenv("HOME");
    if (home && *home)
        return home;
    if (struct passwd *entry = getpwuid(getuid()))
        if (entry->pw_dir && *entry->pw_dir)
            return entry->pw_dir;
    return "/tmp";
}

bool MakeFolderTree(const std::string &hostPath) {
    struct stat st;
    if (stat(hostPath.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    for (size_t at = 1; at <= hostPath.size(); ++at) {
        if (at < hostPath.size() && hostPath[at] != '/')
            continue;
        std::string prefix = hostPath.substr(0, at);
        if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    return stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void ResetDrives() {
    modulePathOverride.clear();
    moduleOverridden = false;
}

DWORD CopyOut(const std::string &text, char *buffer, DWORD size) {
    if (buffer && size > text.size()) {
        memcpy(buffer, text.c_str(), text.size() + 1);
        return static_cast<DWORD>(text.size());
    }
    return static_cast<DWORD>(text.size() + 1);
}

} // namespace host

void HostSetModulePath(const char *hostPath) {
    host::moduleOverridden = hostPath != nullptr;
    host::modulePathOverride = hostPath ? hostPath : "";
}

std::string HostPathFromWindows(const char *ansiPath) {
    return host::ToHostPath(ansiPath);
}

// ---- the Windows calls ------------------------------------------------------

UINT WINAPI GetDriveTypeA(LPCSTR root) {
    if (!root)
        return DRIVE_FIXED; // the drive of the current folder
    std::string folder;
    char letter = 0;
    if (!host::DriveRootFolder(root, &folder, &letter))
        return DRIVE_NO_ROOT_DIR;
    if (letter == '/')
        return DRIVE_FIXED;
    if (!host::LinkExists(folder))
        return DRIVE_NO_ROOT_DIR;
    return (letter == 'a' || letter == 'b') ? DRIVE_REMOVABLE : DRIVE_FIXED;
}

BOOL WINAPI GetVolumeInformationA(LPCSTR root, LPSTR label, DWORD labelSize, LPDWORD serial,
                                  LPDWORD maxComponent, LPDWORD flags, LPSTR fsName,
                                  DWORD fsNameSize) {
    std::string folder;
    char letter = 0;
    if (!host::DriveRootFolder(root, &folder, &letter))
        return FALSE;
    std::string labelFile = folder;
    if (labelFile.back() != '/')
        labelFile += '/';
    labelFile += ".windows-label";
    FILE *file = fopen(labelFile.c_str(), "rb");
    if (!file)
        return FALSE; // no medium, or a medium without a label
    std::string text;
    int c;
    while ((c = fgetc(file)) != EOF && c != '\n')
        text += static_cast<char>(c);
    fclose(file);
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    std::string ansi = host::Utf8ToAnsi(text);
    if (label && labelSize > 0) {
        size_t n = ansi.size() < labelSize - 1 ? ansi.size() : labelSize - 1;
        memcpy(label, ansi.data(), n);
        label[n] = '\0';
    }
    if (serial)
        *serial = 0;
    if (maxComponent)
        *maxComponent = 255;
    if (flags)
        *flags = 0;
    if (fsName && fsNameSize > 0) {
        const char *name = (letter == 'a' || letter == 'b') ? "FAT" : "NTFS";
        size_t n = strlen(name) < fsNameSize - 1 ? strlen(name) : fsNameSize - 1;
        memcpy(fsName, name, n);
        fsName[n] = '\0';
    }
    return TRUE;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    if (module && module != GetModuleHandleA(nullptr))
        return 0;
    std::string path;
    if (host::moduleOverridden) {
        path = host::RealPath(host::modulePathOverride);
        if (path.empty())
            path = host::modulePathOverride;
    } else {
        char exe[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0)
            return 0;
        path.assign(exe, static_cast<size_t>(n));
    }
    std::string ansi = host::Utf8ToAnsi(host::ToDosForm(path));
    if (!buffer || size == 0)
        return 0;
    if (ansi.size() < size) {
        memcpy(buffer, ansi.c_str(), ansi.size() + 1);
        return static_cast<DWORD>(ansi.size());
    }
    // Too small: truncated and terminated, and the full size is returned.
    memcpy(buffer, ansi.data(), size - 1);
    buffer[size - 1] = '\0';
    return size;
}
