// What the files of the native host layer share among themselves.
#pragma once

#include "posix/winapi.h"

#include <sys/stat.h>
#include <string>
#include <vector>

namespace host {

// Code pages (codepage.cpp).
unsigned AnsiCodePage();          // the process's: 1252, 932 or 65001
unsigned OemCodePage();           // the process's
unsigned LocaleOemCodePage();     // the user locale's, whatever the process runs in
unsigned LocaleAnsiCodePage();    // the user locale's
bool IsLeadByte(unsigned char c); // a lead byte of the ANSI code page
bool KnownCodePage(unsigned page);
// Between a code page and UTF-8; *invalid / *usedDefault (when given) are set
// when a byte sequence was not valid, or a character had no form, and became
// '?' (U+FFFD in UTF-8).
std::string CodePageToUtf8(unsigned page, const char *text, size_t length, bool *invalid);
std::string Utf8ToCodePage(unsigned page, const std::string &utf8, bool *usedDefault);
std::string AnsiToUtf8(const char *ansi, size_t length);
std::string AnsiToUtf8(const char *ansi);
std::string Utf8ToAnsi(const std::string &utf8);
void ResetCodePage();
// Decodes one UTF-8 character at p; returns its length, or 0 when the bytes
// there are not a valid character (overlong forms and surrogates included).
size_t DecodeUtf8(const unsigned char *p, size_t left, unsigned *codePoint);

// Paths and drives (drives.cpp).
std::string DosDevicesFolder();           // empty when none is configured
std::string DriveLink(char letter);       // the link of a drive letter; empty without DosDevices
std::string ToHostPath(const char *ansi); // Windows-style ANSI path -> host path
std::string ToDosForm(const std::string &hostPath); // drive form where a link covers it
std::string HomeFolder();
bool MakeFolderTree(const std::string &hostPath); // like mkdir -p
void ResetDrives();

// File names as Windows treats them (names.cpp). The host path of an ANSI
// Windows path: characters Windows refuses give ERROR_INVALID_NAME (the
// wildcards * ? < > " are let through in the last component when
// `wildcards`), trailing dots and blanks are dropped as Windows drops them,
// and each component that is not there as written names an entry of its
// folder that differs in letter case only. Empty, with *error set, when the
// path is refused or names no drive.
// *presence (when given) tells what is known of the entry the path names:
// there (*found, when given, holds its lstat), missing from a folder that is
// there, or unknown.
enum class Presence { unknown, there, missing };
std::string WindowsPathToHost(const char *ansi, bool wildcards, DWORD *error,
                              Presence *presence = nullptr, struct stat *found = nullptr);
bool HasWildcard(const std::string &name);
bool WildcardMatch(const std::string &pattern, const std::string &name);
std::vector<std::string> FolderEntriesMatching(const std::string &folder,
                                               const std::string &pattern);
void NoteEntryMade(const std::string &hostPath); // a file or folder this layer made
void ForgetFolderNames();

// File handles (files.cpp).
int FdOf(HFILE file); // -1 when the handle is not an open file of ours
// Sends what a handle's write-behind holds; false when a send failed, now or
// before, for that handle. The files.cpp comment on write-behind says why.
bool SendPendingWrites(int fd);
void SendAllPendingWrites(); // before the process ends
void ResetFiles();

// Process and memory (process.cpp, memory.cpp).
void ResetProcess();
void ResetMemory();
// The size of the GlobalAlloc/LocalAlloc block that starts at `memory`; 0
// when no block starts there.
size_t BlockExtent(const void *memory);

// The system's libraries (bcrypt.cpp): only the CNG library, bcrypt.dll, is
// there, answered with OpenSSL's libcrypto, and only when asked for by its full
// path in the system folder. MORVIK_NO_BCRYPT set to a non-empty value makes it
// absent, as on a system without CNG.
std::string SystemFolder(); // host path of the system folder
HMODULE LoadSystemLibrary(const char *ansiPath);
FARPROC SystemLibraryProc(HMODULE module, const char *name); // nullptr if not ours
bool FreeSystemLibrary(HMODULE module);

// Copies `text` to `buffer` with the contract of GetCurrentDirectoryA and
// friends: the length without the NUL when it fits, else the size needed
// including the NUL (and the buffer is left alone).
DWORD CopyOut(const std::string &text, char *buffer, DWORD size);

} // namespace host
