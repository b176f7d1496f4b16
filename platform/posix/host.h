// Controls of the native (Linux) host layer that have no Windows counterpart:
// the entry point hands it the process arguments, and tests use the hooks to
// inject failures and to switch code pages inside one process.
//
// Environment variables read by the host layer
// --------------------------------------------
//   MORVIK_DOSDEVICES        folder of drive links, as in a Wine prefix: symlinks
//                            named "a:", "c:" ... pointing at host folders. A
//                            path "X:\rest" or "X:/rest" means <target of x:>/rest.
//                            Unset: no drive letters exist, only host paths.
//   MORVIK_WINDIR            what GetWindowsDirectoryA returns, as given (a host
//                            path or a drive path). Unset or empty:
//                            "$HOME/.morvik/windows", created when first asked for.
//   MORVIK_REGISTRY          the registry file (format below). Unset or empty:
//                            "$HOME/.morvik/registry.txt".
//   MORVIK_ANSI_CODEPAGE     "1252" (the default), "932", or "65001" (UTF-8, as the
//                            manifest's process code page makes current Windows
//                            run the stub); anything else means 1252.
//   MORVIK_OEM_CODEPAGE      the OEM code page of the user's locale: "437" (the
//                            default; 932 under 932), "737", "850", "852", "866"
//                            or "932"; anything else means the default.
//   MORVIK_WINVER_MAJOR      the major version in the low byte of GetVersion
//                            (0 to 255); the default is 6 (GetVersion reports 6.1).
//   MORVIK_FAIL_WRITES_AFTER N: once N bytes in total have been written through
//                            _lwrite, every further _lwrite writes only what is
//                            left of the N bytes (nothing, after that) and returns
//                            that short count: a full disk.
//   MORVIK_FAIL_ALLOC        N: the Nth allocation (GlobalAlloc or LocalAlloc,
//                            counted from 1) returns NULL; later ones succeed.
//   MORVIK_SHELL32           takes the shell library apart for tests (see
//                            shell.cpp): "absent", "no-browse", "no-malloc",
//                            "no-path", "malloc-fails", "path-fails", or a
//                            comma-separated list. Unset: Shell32.dll and its
//                            folder browser are there, as on Windows; the
//                            picker is answered by the user (window_host.h).
//   MORVIK_NOW               seconds since 1970-01-01 UTC: the moment whose offset
//                            from UTC LocalFileTimeToFileTime applies (Windows
//                            takes the offset in force now, not that of the
//                            date converted). Unset: the real clock.
// DOSDEVICES, WINDIR, REGISTRY and WINVER_MAJOR are read at every call. The
// last three are read at the first use and again after HostReset(); the hooks
// below override them until the next HostReset().
//
// Drives: GetDriveTypeA("X:\\") is DRIVE_NO_ROOT_DIR when the link x: is
// missing, DRIVE_REMOVABLE for a: and b:, DRIVE_FIXED otherwise; the root
// "/:\\" (the first character of a host path) is DRIVE_FIXED. The volume label
// of a drive is the first line of the file ".windows-label" at the drive's
// root folder (the root of "/:\\" is "/"); without that file the drive has no
// readable medium and GetVolumeInformationA fails.
//
// Module file name: the executable (/proc/self/exe); when it lies inside the
// target folder of a drive link it is reported in drive form "X:\dir\file"
// (the deepest matching link wins), otherwise as the host path.
//
// Current folder: GetCurrentDirectoryA reports the host path, never drive form.
//
// File names (names.cpp): opens, creates, FindFirstFileA, CreateDirectoryA and
// SetCurrentDirectoryA follow Windows' rules: < > " | ? * and control
// characters are refused with ERROR_INVALID_NAME (FindFirstFileA takes the
// wildcards in the last component), the last component loses its trailing
// dots and blanks and the others one trailing dot, and a component that is
// not there as written names an entry of its folder that differs in letter
// case only. The file calls set GetLastError as Windows does.
//
// Share modes (files.cpp): an open that denies writers (OF_SHARE_DENY_WRITE,
// OF_SHARE_EXCLUSIVE) fails with ERROR_SHARING_VIOLATION while any program has
// the file open for writing (seen through a read lease); while such an open
// holds the file, _lcreat and _lopen for writing of this layer fail the same
// way and leave the file as it was. Denying readers is not enforced.
//
// Code pages: names passed to the host are converted from the ANSI code page
// to UTF-8, names coming back from UTF-8 to ANSI; characters the target lacks
// become '?'. Under 1252, OemToChar/CharToOem convert between the locale's OEM
// code page (437 unless MORVIK_OEM_CODEPAGE says otherwise) and 1252 ('?' for
// characters the target lacks, no best-fit look-alikes).
// Under 932 the OEM code page is 932 as well, as on a Japanese Windows, so the
// OEM/ANSI conversions copy the bytes unchanged. Under 65001 both code pages
// are UTF-8 (GetACP and GetOEMCP report 65001), and the OEM/ANSI conversions
// go through Unicode: a byte that starts no valid UTF-8 character becomes
// U+FFFD. Under 1252 the OEM code page is the locale's (MORVIK_OEM_CODEPAGE).
// GetLocaleInfoA/W report the locale's OEM code page (LOCALE_IDEFAULTCODEPAGE)
// and the ANSI code page Windows pairs with it (LOCALE_IDEFAULTANSICODEPAGE:
// 1253 for 737, 1250 for 852, 1251 for 866, 932 for 932, else 1252), whatever
// the process's code pages are.
//
// Registry file: UTF-8 text, one value per line, "<key>=<value>", where <key>
// is the full key path starting with HKEY_CLASSES_ROOT, for example
//     HKEY_CLASSES_ROOT\morvik\shell\open\command=/usr/bin/morvik "%1"
// RegQueryValueA(key, subKey, ...) returns the default value of
// key\subKey; the key is compared without regard to ASCII letter case, the
// value is everything after the first '=' up to the end of the line (a CR
// before the line end is dropped). Empty lines and lines starting with ';' or
// '#' are ignored; the first matching line wins. A line holding a key without
// "=", or a line of a key below it, makes the key exist without a default
// value: RegQueryValueA then succeeds with an empty string, as on Windows.
//
// WinExec: the program is the command's first word, as CreateProcess finds
// it: up to the closing double quote when the command starts with one;
// otherwise, when the command holds blanks, the shortest prefix ending before
// a blank that names a program, else the whole command. A program given with
// a separator is mapped like any path; a bare name is looked up in PATH. When
// none can be found or it is not executable, WinExec returns 2 (file not
// found). Otherwise the program is started directly, with no shell, in the
// background, and WinExec returns 33 without waiting; its arguments are the
// rest of the command split as the Microsoft C runtime splits a command line
// (blanks and tabs separate, double quotes group, backslashes escape only
// before a double quote).
#pragma once

#include <string>

// Sets the command line that GetCommandLineA returns from the process's
// arguments (UTF-8, converted to ANSI), quoted as Windows programs expect: the
// program name in double quotes when it holds a blank or tab, arguments with
// blanks, tabs or double quotes quoted and escaped by the MSVCRT rules.
// Without a call, the arguments are read from /proc/self/cmdline.
void HostSetArgs(int argc, char **argv);

// Sets the exact raw (ANSI) command line that GetCommandLineA returns.
void HostSetCommandLine(const char *commandLine);

// From now on, _lwrite writes at most `bytes` more bytes in total, then
// returns short counts (see MORVIK_FAIL_WRITES_AFTER). A negative value
// switches the failure off.
void HostFailWritesAfter(long long bytes);

// The `nth` next allocation (GlobalAlloc or LocalAlloc; 1 = the very next)
// returns NULL; 0 switches the failure off.
void HostFailAllocation(int nth);

// Selects the ANSI code page: 1252, 932 or 65001. Returns false (and changes
// nothing) for any other value.
bool HostSetAnsiCodePage(unsigned codePage);
unsigned HostAnsiCodePage();
// Selects the OEM code page of the user's locale (see MORVIK_OEM_CODEPAGE);
// false for a code page not listed there.
bool HostSetLocaleOemCodePage(unsigned codePage);

// Makes GetModuleFileNameA report this host path instead of /proc/self/exe
// (still in drive form when a drive link covers it); NULL restores the default.
void HostSetModulePath(const char *hostPath);

// Back to the start-up state: the failure hooks, the code page, the command
// line and the module path are reset, and the environment variables above are
// read afresh at their next use. Open file handles are left alone.
void HostReset();

// Conversions for the rest of the host layer (and tests).
std::string HostAnsiToUtf8(const char *ansi);
std::string HostUtf8ToAnsi(const char *utf8);
// The host (UTF-8) path that an ANSI Windows-style path names; empty for a
// drive letter when no drive links are configured.
std::string HostPathFromWindows(const char *ansiPath);
