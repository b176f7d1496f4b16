// The exit code as a script or an installer that runs the package sees it:
// 0 when the extraction that ran last completed (and for "-info"), 1 when
// the user ended it without an error, 2 when an error or an abort ended it,
// also before the dialog opened. One row per way of ending, each run as a
// process on a package made by our builder.
#include "tests/support/support.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/startup_ui_support.h"

namespace {

using namespace sfxe2e;

std::string Describe(const test::StubRun &run) {
    return "exit " + std::to_string(run.process.exitCode) + "\n--- transcript\n" + run.transcript +
           "--- stderr\n" + run.process.err;
}

std::string Noise(size_t size) {
    std::string out(size, '\0');
    uint32_t x = 77;
    for (char &c : out) {
        x = x * 1103515245u + 12345u;
        c = (char)(x >> 23);
    }
    return out;
}

// Where a row's package lies, and what the run needs around it.
struct Case {
    std::string dir;     // a fresh folder of the row's own
    std::string out;     // the folder the package unzips to
    std::string package; // filled in by the row
    test::Environment env;
};

// A package of two stored files that unzips to `s.out`.
void Plain(Case &s, std::vector<std::string> options = {}) {
    options.push_back("--folder=" + s.out);
    options.push_back("--info=notes");
    s.package = MakePackage(PythonZip({{"a.txt", "alpha\n"}, {"b.txt", "bravo\n"}}, false), options,
                            "setup.exe", "");
}

// Changes the first `from` at or after `start` into `to`, in place.
void Patch(const std::string &path, const std::string &from, const std::string &to,
           size_t start = 0) {
    std::string bytes = test::ReadFile(path);
    size_t at = bytes.find(from, start);
    ASSERT_NE(at, std::string::npos) << from;
    bytes.replace(at, from.size(), to);
    test::WriteFile(path, bytes);
}

struct Row {
    const char *what;
    std::function<void(Case &)> make;
    std::vector<std::string> args; // "{out}" is the unzip folder
    std::string script;
    int exitCode;
};

const char kCompleted[] = "box ok \"2 file(s) unzipped successfully\" -> ok\n";

TEST(ExitCode, EachWayOfEndingHasItsCode) {
    const Row rows[] = {
        // 0: the extraction that ran last completed; "-info".
        {"a run completed, then Close",
         [](Case &s) { Plain(s); },
         {},
         std::string("press 1\n") + kCompleted + "press 2\n",
         0},
        {"auto mode, completed", [](Case &s) { Plain(s); }, {"-auto", "{out}"}, "", 0},
        {"-info", [](Case &s) { Plain(s); }, {"-info"}, "box ok \"notes\" -> ok\n", 0},
        {"a run completed, then the password dialog cancelled",
         [](Case &s) {
             s.package = MakePackage(EncryptedZip({{"a.txt", "alpha\n"}}, "pw", {}),
                                     {"--encrypted", "--folder=" + s.out}, "setup.exe", "");
         },
         {},
         "press 1\ndialog \"Password\"\ntype 402 \"pw\"\npress 1\n"
         "box ok \"1 file(s) unzipped successfully\" -> ok\n"
         "press 1\ndialog \"Password\"\nescape\ndialog \"setup.exe\"\npress 2\n",
         0},

        // 1: the user ended it without an error.
        {"Close without unzipping", [](Case &s) { Plain(s); }, {}, "press 2\n", 1},
        {"the password dialog cancelled, then Close",
         [](Case &s) {
             s.package = MakePackage(EncryptedZip({{"a.txt", "alpha\n"}}, "pw", {}),
                                     {"--encrypted", "--folder=" + s.out}, "setup.exe", "");
         },
         {},
         "press 1\ndialog \"Password\"\nescape\ndialog \"setup.exe\"\npress 2\n",
         1},
        {"Cancel at the overwrite question",
         [](Case &s) {
             Plain(s);
             test::MakeDirs(s.out);
             test::WriteFile(s.out + "/a.txt", "old\n");
         },
         {},
         "press 1\nbox yesnocancel \"already exists\" -> cancel\n",
         1},
        {"a run completed, then Cancel at the overwrite question of the next",
         [](Case &s) { Plain(s); },
         {},
         std::string("press 1\n") + kCompleted +
             "press 1\nbox yesnocancel \"already exists\" -> cancel\n",
         1},
        {"No to the start-up question",
         [](Case &s) {
             Plain(s, {"--startup-message=Go on?", "--startup-query"});
         },
         {},
         "box yesno \"Go on?\" -> no\n",
         1},
        {"Cancel to the start-up question",
         [](Case &s) {
             Plain(s, {"--startup-message=Go on?", "--startup-query", "--startup-okcancel"});
         },
         {},
         "box okcancel \"Go on?\" -> cancel\n",
         1},

        // 2: an error or an abort ended it.
        {"a damaged CRC",
         [](Case &s) {
             Plain(s);
             Patch(s.package, "alpha\n", "alphb\n",
                   ReadHeader(test::ReadFile(s.package)).archiveOffset);
         },
         {"-auto", "{out}"},
         "box ok \"Bad CRC\" icon=error -> ok\n",
         2},
        {"a wrong password",
         [](Case &s) {
             s.package = MakePackage(EncryptedZip({{"a.txt", "alpha\n"}}, "pw", {}),
                                     {"--encrypted", "--folder=" + s.out}, "setup.exe", "");
         },
         {"-auto", "{out}"},
         // A wrong password passes the one-byte check now and then; the CRC
         // then fails instead. Either is an error box.
         "dialog \"Password\"\ntype 402 \"wrong\"\npress 1\nbox ok \"\" icon=error -> ok\n",
         2},
        {"the abort question answered Yes",
         [](Case &s) {
             s.package = MakePackage(PythonZip({{"big.bin", Noise(300000)}}, false),
                                     {"--folder=" + s.out}, "setup.exe", "");
         },
         {},
         "press 1\npolls 3\nclick 2\nbox yesno \"Abort unzip operation?\" -> yes\n",
         2},
        {"header corrupt",
         [](Case &s) {
             Plain(s, {"--crc"});
             Patch(s.package, "notes", "nodes",
                   ReadHeader(test::ReadFile(s.package)).trailerOffset);
         },
         {},
         "box ok \"header corrupt\" icon=error -> ok\n",
         2},
        {"the end record is not where the header says (message 38)",
         [](Case &s) {
             Plain(s);
             std::string bytes = test::ReadFile(s.package);
             PackageHeader h = ReadHeader(bytes);
             PutU32(bytes, h.at + 20, h.endRecordOffset - 1);
             test::WriteFile(s.package, bytes);
         },
         {},
         "box ok \"Zip file is damaged\" icon=error -> ok\n",
         2},
        {"an incomplete package",
         [](Case &s) { Plain(s, {"--incomplete"}); },
         {},
         "box ok \"incomplete self-extractor\" icon=error -> ok\n",
         2},
        {"a folder on the command line too long",
         [](Case &s) { Plain(s); },
         {"-auto", std::string(300, 'x')},
         "box ok \"longer than 260\" icon=error -> ok\n",
         2},
        {"Abort at the disk-1 prompt",
         [](Case &s) {
             test::PackOrFail(PythonZip({{"a.txt", "alpha\n"}}, false), s.dir + "/set/setup.exe",
                              {"--spanned", "--folder=" + s.out});
             // Disk 1 without its label: the stub asks for disk 1.
             unlink((s.dir + "/set/disk1/.windows-label").c_str());
             std::string devices = s.dir + "/dosdevices";
             test::MakeDirs(devices);
             ASSERT_EQ(symlink((s.dir + "/set/disk1").c_str(), (devices + "/a:").c_str()), 0);
             s.package = devices + "/a:/setup.EXE";
             s.env["MORVIK_DOSDEVICES"] = devices;
         },
         {},
         "box abortretryignore \"Insert disk number 1\" -> abort\n",
         2},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Case s;
        s.dir = test::TempDir("exit");
        s.out = s.dir + "/out";
        row.make(s);
        ASSERT_FALSE(HasFailure());
        std::vector<std::string> args = row.args;
        for (std::string &arg : args)
            if (arg == "{out}")
                arg = s.out;
        test::StubRun run = test::RunStub(s.package, args, row.script, s.env);
        EXPECT_EQ(run.process.exitCode, row.exitCode) << Describe(run);
    }
}

} // namespace
