// The process on the native host: command line, environment, version, the
// (absent) shell library and starting other programs.
#include "posix/host.h"
#include "posix/host_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char **environ;

namespace host {
namespace {

bool commandLineSet = false;
std::string commandLine; // returned writable, like the process's own copy on Windows

char moduleMarker; // its address is the module handle of the program

// The program name as Windows starts it: in double quotes when it holds a
// blank or tab. A program name cannot hold double quotes on Windows, so any
// are dropped.
std::string QuoteProgramName(const std::string &name) {
    std::string plain;
    for (char c : name)
        if (c != '"')
            plain += c;
    if (plain.empty() || plain.find_first_of(" \t") != std::string::npos)
        return '"' + plain + '"';
    return plain;
}

// An argument quoted so that the MSVCRT rules read it back unchanged:
// backslashes count only in front of a double quote, where each one is
// doubled and the quote escaped. Double-byte characters are copied whole.
std::string QuoteArgument(const std::string &arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (size_t i = 0; i < arg.size(); ++i) {
        const char c = arg[i];
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            out.append(backslashes * 2 + 1, '\\');
        else
            out.append(backslashes, '\\');
        backslashes = 0;
        out += c;
        if (IsLeadByte(static_cast<unsigned char>(c)) && i + 1 < arg.size())
            out += arg[++i];
    }
    out.append(backslashes * 2, '\\'); // before the closing quote
    out += '"';
    return out;
}

std::string BuildCommandLine(const std::vector<std::string> &utf8Args) {
    std::string line;
    for (size_t i = 0; i < utf8Args.size(); ++i) {
        const std::string ansi = Utf8ToAnsi(utf8Args[i]);
        if (i > 0)
            line += ' ';
        line += (i == 0) ? QuoteProgramName(ansi) : QuoteArgument(ansi);
    }
    return line;
}

std::vector<std::string> ArgsOfThisProcess() {
    std::vector<std::string> args;
    FILE *file = fopen("/proc/self/cmdline", "rb");
    if (!file)
        return args;
    std::string all;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
        all.append(chunk, n);
    fclose(file);
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos)
            end = all.size();
        args.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

const char *FindEnvironment(const std::string &name) {
    if (name.empty() || name.find('=') != std::string::npos)
        return nullptr;
    if (const char *value = getenv(name.c_str()))
        return value;
    // Windows compares variable names without regard to letter case.
    for (char **entry = environ; entry && *entry; ++entry) {
        const char *equals = strchr(*entry, '=');
        if (equals && static_cast<size_t>(equals - *entry) == name.size() &&
            strncasecmp(*entry, name.c_str(), name.size()) == 0)
            return equals + 1;
    }
    return nullptr;
}

bool IsExecutableFile(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The host path of the program (an ANSI name or path) that a command starts,
// or empty when there is no such program.
std::string FindProgram(const std::string &ansiProgram) {
    if (ansiProgram.empty())
        return std::string();
    if (ansiProgram.find_first_of("/\\:") != std::string::npos) {
        std::string path = ToHostPath(ansiProgram.c_str());
        return IsExecutableFile(path) ? path : std::string();
    }
    const std::string program = AnsiToUtf8(ansiProgram.c_str());
    const char *pathVariable = getenv("PATH");
    std::string folders = (pathVariable && *pathVariable) ? pathVariable : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        std::string folder = folders.substr(start, end - start);
        std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
        if (IsExecutableFile(candidate))
            return candidate;
        start = end + 1;
    }
    return std::string();
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The arguments in the rest of a command line, split as the Microsoft C
// runtime splits them: blanks and tabs separate; double quotes group and are
// dropped; 2n backslashes before a double quote give n backslashes and the
// quote groups, 2n+1 give n backslashes and a literal quote; other
// backslashes stand for themselves. Blanks, quotes and backslashes are never
// part of a double-byte character, so the ANSI bytes can be split as they are.
std::vector<std::string> SplitArguments(const std::string &line, size_t i) {
    std::vector<std::string> args;
    for (;;) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i >= line.size())
            return args;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || !IsBlank(line[i]))) {
            size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\')
                ++backslashes, ++i;
            if (i < line.size() && line[i] == '"') {
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2)
                    arg += '"';
                else
                    quoted = !quoted;
                ++i;
            } else {
                arg.append(backslashes, '\\');
                if (i < line.size() && (quoted || !IsBlank(line[i])))
                    arg += line[i++];
            }
        }
        args.push_back(arg);
    }
}

// Finds the program that a command line starts, as CreateProcess does: the
// quoted first word; or, unquoted, the first prefix ending before a blank
// that names a program, trying the shortest first, and at last the whole
// line. Sets *rest to where the arguments begin.
std::string ProgramOfCommand(const std::string &line, size_t *rest) {
    size_t at = 0;
    while (at < line.size() && IsBlank(line[at]))
        ++at;
    if (at < line.size() && line[at] == '"') {
        size_t close = line.find('"', at + 1);
        if (close == std::string::npos)
            close = line.size();
        *rest = close < line.size() ? close + 1 : close;
        return FindProgram(line.substr(at + 1, close - at - 1));
    }
    for (size_t end = at; end <= line.size(); ++end) {
        if (end < line.size() && !IsBlank(line[end]))
            continue;
        std::string path = FindProgram(line.substr(at, end - at));
        if (!path.empty()) {
            *rest = end;
            return path;
        }
    }
    return std::string();
}

} // namespace

void ResetProcess() {
    commandLineSet = false;
    commandLine.clear();
}

} // namespace host

void HostSetArgs(int argc, char **argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc && argv && argv[i]; ++i)
        args.push_back(argv[i]);
    host::commandLine = host::BuildCommandLine(args);
    host::commandLineSet = true;
}

void HostSetCommandLine(const char *commandLine) {
    host::commandLine = commandLine ? commandLine : "";
    host::commandLineSet = true;
}

void HostReset() {
    host::ResetFiles();
    host::ResetMemory();
    host::ResetCodePage();
    host::ResetProcess();
    host::ResetDrives();
}

// ---- the Windows calls ------------------------------------------------------

LPSTR WINAPI GetCommandLineA(void) {
    if (!host::commandLineSet) {
        host::commandLine = host::BuildCommandLine(host::ArgsOfThisProcess());
        host::commandLineSet = true;
    }
    return &host::commandLine[0];
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    return name ? nullptr : static_cast<HMODULE>(&host::moduleMarker);
}

void WINAPI ExitProcess(UINT code) {
    host::SendAllPendingWrites(); // as Windows does for a handle left open
    fflush(nullptr);
    exit(static_cast<int>(code));
}

// Reports Windows 6.1 (build 7601); MORVIK_WINVER_MAJOR replaces the major
// version, which the low byte carries.
DWORD WINAPI GetVersion(void) {
    DWORD major = 6;
    const char *value = getenv("MORVIK_WINVER_MAJOR");
    if (value && *value) {
        char *end = nullptr;
        long n = strtol(value, &end, 10);
        if (*end == '\0' && n >= 0 && n <= 255)
            major = static_cast<DWORD>(n);
    }
    return (7601u << 16) | (1u << 8) | major;
}

DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    if (!name)
        return 0;
    const char *value = host::FindEnvironment(host::AnsiToUtf8(name));
    if (!value)
        return 0;
    return host::CopyOut(host::Utf8ToAnsi(value), buffer, size);
}

UINT WINAPI WinExec(LPCSTR command, UINT) {
    const UINT kFileNotFound = 2;
    if (!command)
        return kFileNotFound;
    const std::string ansi = command;
    size_t rest = 0;
    const std::string path = host::ProgramOfCommand(ansi, &rest);
    if (path.empty())
        return kFileNotFound;
    // No shell: whatever the command holds ($, back quotes, ;) reaches the
    // program as text.
    std::vector<std::string> args = {path};
    for (const std::string &arg : host::SplitArguments(ansi, rest))
        args.push_back(host::AnsiToUtf8(arg.c_str()));
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);

    // Started from a child that exits at once, so the program runs on its own
    // and leaves no zombie behind; nobody waits for it.
    fflush(nullptr);
    pid_t child = fork();
    if (child < 0)
        return 0;
    if (child == 0) {
        setsid();
        pid_t grandchild = fork();
        if (grandchild == 0) {
            execv(argv[0], argv.data());
            _exit(127);
        }
        _exit(grandchild < 0 ? 1 : 0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return 0;
    return 33;
}
