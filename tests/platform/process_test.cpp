// Command line, environment, version, libraries and WinExec.
#include "host_test_support.h"

#include <fcntl.h>
#include <string.h>

#include <vector>

namespace {

class ProcessTest : public HostTest {};

// Splits a command line the way the Microsoft C runtime does: the program
// name ends at the closing quote or the first blank; in the arguments 2n
// backslashes before a quote give n backslashes and toggle quoting, 2n+1
// give n backslashes and a literal quote, and other backslashes are literal.
std::vector<std::string> SplitLikeMsvcrt(const std::string &line) {
    std::vector<std::string> args;
    size_t i = 0;
    std::string program;
    if (i < line.size() && line[i] == '"') {
        for (++i; i < line.size() && line[i] != '"'; ++i)
            program += line[i];
        if (i < line.size())
            ++i;
    } else {
        for (; i < line.size() && line[i] != ' ' && line[i] != '\t'; ++i)
            program += line[i];
    }
    args.push_back(program);
    for (;;) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size())
            break;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
            size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\')
                ++backslashes, ++i;
            if (i < line.size() && line[i] == '"') {
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2) {
                    arg += '"';
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                arg.append(backslashes, '\\');
                if (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t')))
                    arg += line[i++];
            }
        }
        args.push_back(arg);
    }
    return args;
}

std::string CommandLineFor(std::vector<std::string> args) {
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    HostSetArgs(static_cast<int>(args.size()), argv.data());
    return GetCommandLineA();
}

TEST_F(ProcessTest, CommandLineQuotingRoundTrips) {
    const std::vector<std::vector<std::string>> sets = {
        {"/opt/morvik/setup.exe"},
        {"/opt/my dir/setup", "-auto", "D:\\Out Dir"},
        {"prog", ""},
        {"prog", "say \"hi\""},
        {"prog", "C:\\Path With Blank\\"},
        {"prog", "back\\\\slash\\", "tab\there"},
        {"prog", "\\\"", "\"", "\\\\\""},
        {"prog", "a\\b", "-info", "x-auto"},
    };
    for (const auto &args : sets) {
        std::string line = CommandLineFor(args);
        EXPECT_EQ(SplitLikeMsvcrt(line), args) << line;
    }
}

TEST_F(ProcessTest, CommandLineQuotesOnlyWhenNeeded) {
    struct Case {
        std::vector<std::string> args;
        const char *line;
    } cases[] = {
        {{"/opt/morvik/setup"}, "/opt/morvik/setup"},
        {{"/opt/my dir/setup", "-auto", "D:\\Out Dir"},
         "\"/opt/my dir/setup\" -auto \"D:\\Out Dir\""},
        {{"prog", "a\\b"}, "prog a\\b"},
        {{"prog", "C:\\Out Dir\\"}, "prog \"C:\\Out Dir\\\\\""},
        {{"prog", "x\"y"}, "prog \"x\\\"y\""},
        {{"prog", ""}, "prog \"\""},
        {{"caf\xC3\xA9", "\xC3\xA9t\xC3\xA9"}, "caf\xE9 \xE9t\xE9"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CommandLineFor(c.args), c.line);
}

TEST_F(ProcessTest, RawCommandLineIsReturnedExactlyAndWritable) {
    HostSetCommandLine("\"C:\\My Dir\\SETUP.EXE\" -auto \"D:\\Out Dir\"");
    char *line = GetCommandLineA();
    EXPECT_STREQ(line, "\"C:\\My Dir\\SETUP.EXE\" -auto \"D:\\Out Dir\"");
    line[22] = 'A'; // the program may upper-case its tail in place
    EXPECT_EQ(GetCommandLineA(), line);
    EXPECT_EQ(GetCommandLineA()[22], 'A');

    HostReset();
    std::string own = GetCommandLineA();
    EXPECT_NE(own.find("platform_tests"), std::string::npos)
        << "without a call, the process's own arguments: " << own;
}

TEST_F(ProcessTest, EnvironmentVariableContract) {
    SetEnv("MORVIK_TEST_VALUE", "C:\\TEMP");
    char buffer[16];
    EXPECT_EQ(GetEnvironmentVariableA("MORVIK_TEST_VALUE", buffer, sizeof buffer), 7u);
    EXPECT_STREQ(buffer, "C:\\TEMP");
    char small[7] = "xxxxxx";
    EXPECT_EQ(GetEnvironmentVariableA("MORVIK_TEST_VALUE", small, sizeof small), 8u)
        << "too small: the size needed, NUL included";
    EXPECT_STREQ(small, "xxxxxx");
    EXPECT_EQ(GetEnvironmentVariableA("MORVIK_TEST_VALUE", nullptr, 0), 8u);
    EXPECT_EQ(GetEnvironmentVariableA("morvik_test_value", buffer, sizeof buffer), 7u)
        << "names are compared without regard to case";

    SetEnv("MORVIK_TEST_VALUE", nullptr);
    EXPECT_EQ(GetEnvironmentVariableA("MORVIK_TEST_VALUE", buffer, sizeof buffer), 0u);

    SetEnv("MORVIK_TEST_VALUE", "");
    buffer[0] = 'x';
    EXPECT_EQ(GetEnvironmentVariableA("MORVIK_TEST_VALUE", buffer, sizeof buffer), 0u);
    EXPECT_EQ(buffer[0], '\0');

    SetEnv("MORVIK_TEST_VALUE", "/tmp/caf\xC3\xA9");
    EXPECT_EQ(GetEnvironmentVariableA("MORVIK_TEST_VALUE", buffer, sizeof buffer), 9u);
    EXPECT_STREQ(buffer, "/tmp/caf\xE9") << "converted to the ANSI code page";
}

TEST_F(ProcessTest, VersionModuleAndLibraries) {
    EXPECT_EQ(LOBYTE(GetVersion()), 6);
    SetEnv("MORVIK_WINVER_MAJOR", "3");
    EXPECT_EQ(LOBYTE(GetVersion()), 3);
    SetEnv("MORVIK_WINVER_MAJOR", "junk");
    EXPECT_EQ(LOBYTE(GetVersion()), 6);

    EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
    EXPECT_EQ(GetModuleHandleA(nullptr), GetModuleHandleA(nullptr));
    EXPECT_EQ(LoadLibraryA("Kernel32.dll"), nullptr) << "only the shell library is there";
    EXPECT_EQ(GetProcAddress(nullptr, "SHBrowseForFolder"), nullptr);
    EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST_F(ProcessTest, WinExecReportsAMissingProgram) {
    EXPECT_EQ(WinExec("/no/such/program \"A:\\SETUP.EXE\"", SW_SHOWNORMAL), 2u);
    EXPECT_EQ(WinExec("morvik-no-such-program-on-path x", SW_SHOWNORMAL), 2u);
    EXPECT_EQ(WinExec("\"/no/such dir/prog\" x", SW_SHOWNORMAL), 2u);
    EXPECT_EQ(WinExec("", SW_SHOWNORMAL), 2u);
    TempFolder folder;
    WriteTextFile(folder / "not-executable", "#!/bin/sh\n");
    EXPECT_EQ(WinExec((folder / "not-executable").c_str(), SW_SHOWNORMAL), 2u);
}

TEST_F(ProcessTest, WinExecStartsTheProgramWithItsArguments) {
    TempFolder folder;
    ASSERT_EQ(mkdir((folder / "dir with blank").c_str(), 0777), 0);
    // The started program inherits the write end of a pipe and reports its
    // arguments there; the read below ends when every writer has gone, so it
    // also ends (with nothing) when the program never ran.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    std::string script = folder / "dir with blank/tool";
    WriteTextFile(script, "#!/bin/sh\nprintf '%s|%s' \"$1\" \"$2\" > /dev/fd/" +
                              std::to_string(pipeEnds[1]) + "\n");
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);

    std::string command = "\"" + script + "\" \"A:\\SETUP.zip\" caf\xE9";
    UINT result = WinExec(command.c_str(), SW_SHOWNORMAL);
    close(pipeEnds[1]);
    std::string text;
    char chunk[128];
    ssize_t n;
    while ((n = read(pipeEnds[0], chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<size_t>(n));
    close(pipeEnds[0]);
    EXPECT_EQ(result, 33u);
    EXPECT_EQ(text, "A:\\SETUP.zip|caf\xC3\xA9");
}

// Runs WinExec on `command` and returns what the started program reports:
// its arguments, one per line. The program inherits the write end of a pipe;
// the read ends when every writer has gone, so it also ends (with nothing)
// when no program ran.
std::string ArgumentsSeenBy(const std::string &reporter, const std::string &command, UINT *result) {
    int pipeEnds[2];
    EXPECT_EQ(pipe(pipeEnds), 0);
    WriteTextFile(reporter,
                  "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > /dev/fd/" +
                      std::to_string(pipeEnds[1]) + "\n");
    EXPECT_EQ(chmod(reporter.c_str(), 0755), 0);
    *result = WinExec(command.c_str(), SW_SHOWNORMAL);
    close(pipeEnds[1]);
    std::string text;
    char chunk[256];
    ssize_t n;
    while ((n = read(pipeEnds[0], chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<size_t>(n));
    close(pipeEnds[0]);
    return text;
}

// The command line is split as Windows splits it, and no shell ever sees it:
// quotes group, blanks separate, and $(...), back quotes, ; and > are text.
TEST_F(ProcessTest, WinExecSplitsLikeWindowsWithNoShell) {
    TempFolder folder;
    const std::string tool = folder / "tool";
    const std::string witness = folder / "ran";
    struct Case {
        std::string arguments; // what follows the program and a blank
        std::string seen;      // one line per argument
    } cases[] = {
        {"\"A:\\SETUP.EXE\"", "A:\\SETUP.EXE\n"},
        {"\"C:\\My Dir\\a b.exe\" second", "C:\\My Dir\\a b.exe\nsecond\n"},
        {"  spaced\targs  ", "spaced\nargs\n"},
        {"\"C:\\pkg$(touch " + witness + ").exe\"", "C:\\pkg$(touch " + witness + ").exe\n"},
        {"\"C:\\`touch " + witness + "`.exe\"", "C:\\`touch " + witness + "`.exe\n"},
        {"x;touch " + witness, "x;touch\n" + witness + "\n"},
        {"a>" + witness + " |cat", "a>" + witness + "\n|cat\n"},
        {"\"it's\" 'single'", "it's\n'single'\n"},
        {"say\\\"hi\\\" \"C:\\Out Dir\\\\\"", "say\"hi\"\nC:\\Out Dir\\\n"},
        {"a\\\\b \"unclosed rest", "a\\\\b\nunclosed rest\n"},
        {"caf\xE9", "caf\xC3\xA9\n"},
    };
    for (const Case &c : cases) {
        UINT result = 0;
        std::string seen = ArgumentsSeenBy(tool, "\"" + tool + "\" " + c.arguments, &result);
        EXPECT_EQ(result, 33u) << c.arguments;
        EXPECT_EQ(seen, c.seen) << c.arguments;
    }
    usleep(100000); // anything a shell would have started has had its time
    EXPECT_FALSE(IsFolder(witness) || access(witness.c_str(), F_OK) == 0)
        << "a shell ran part of a command";
}

// A program path with blanks: quoted, it is taken whole; unquoted, the
// shortest prefix before a blank that names a program wins, as CreateProcess
// tries them.
TEST_F(ProcessTest, WinExecFindsTheProgramAsCreateProcessDoes) {
    TempFolder folder;
    ASSERT_EQ(mkdir((folder / "Program Files").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((folder / "Program Files/Morvik").c_str(), 0777), 0);
    const std::string tool = folder / "Program Files/Morvik/morvik manager";
    struct Case {
        std::string command;
        UINT result;
        std::string seen;
    } cases[] = {
        {"\"" + tool + "\" \"A:\\SETUP.EXE\"", 33, "A:\\SETUP.EXE\n"},
        {tool + " \"A:\\SETUP.EXE\"", 33, "A:\\SETUP.EXE\n"},
        {"\"" + tool + "\"", 33, ""},
        {"\"" + tool + "\"x", 33, "x\n"},
        {"\"" + folder.path() + "/Program Files/Morvik/morvik\" x", 2, ""},
        {folder.path() + "/Program Files/Morvik/morvik", 2, ""},
    };
    for (const Case &c : cases) {
        UINT result = 0;
        std::string seen = ArgumentsSeenBy(tool, c.command, &result);
        EXPECT_EQ(result, c.result) << c.command;
        EXPECT_EQ(seen, c.seen) << c.command;
    }
    // The shorter prefix wins when it names a program.
    const std::string shorter = folder / "Program";
    UINT result = 0;
    std::string seen = ArgumentsSeenBy(shorter, tool + " x", &result);
    EXPECT_EQ(result, 33u);
    EXPECT_EQ(seen, "Files/Morvik/morvik\nmanager\nx\n");
}

} // namespace
