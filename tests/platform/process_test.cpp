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
    EXPECT_EQ(LoadLibraryA("Shell32.dll"), nullptr);
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

} // namespace
