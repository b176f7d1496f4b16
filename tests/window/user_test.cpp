// The users: scripted (answers, failures, poll injection, syntax), the
// no-terminal fallback, the terminal user, and the standalone set-up.
#include "window_test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

using UserTest = WindowHostTest;

std::vector<BYTE> AskingDialog() {
    return TemplateBuilder(TEST_DIALOG_STYLE, 10, 10, 100, 60, "Asker")
        .Control(0x82, 109, TEST_CONTROL, 0, 40, 100, 8, "")
        .Control(0x80, 1, TEST_CONTROL | WS_TABSTOP | BS_DEFPUSHBUTTON, 5, 5, 40, 14, "&Ask")
        .Control(0x80, 2, TEST_CONTROL | WS_TABSTOP, 50, 5, 40, 14, "&Close")
        .Control(0x80, 3, TEST_CONTROL | WS_DISABLED, 50, 25, 40, 14, "&Off")
        .Bytes();
}

// Ask (1) shows `box`; Close (2) ends the dialog. Answers are collected.
struct Asker {
    UINT type = MB_OKCANCEL;
    std::string text = "Please insert disk 2 in drive A:.";
    std::vector<int> answers;
    void Install() {
        DialogHandler(0) = [this](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
            if (m == WM_COMMAND && LOWORD(w) == 1) {
                int a = MessageBoxA(d, text.c_str(), "Morvik Self-Extractor", type);
                answers.push_back(a);
                SetDlgItemTextA(d, 109, HostButtonName(a));
            }
            if (m == WM_COMMAND && LOWORD(w) == 2)
                EndDialog(d, 1);
            return m == WM_INITDIALOG;
        };
    }
};

TEST_F(UserTest, ScriptAnswersExpectedBoxes) {
    Asker asker;
    asker.type = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;
    asker.text = "Abort unzip operation?";
    asker.Install();
    Script("# answers by name, by default, with checks on icon and default\n"
           "press 1\n"
           "box yesno \"Abort unzip\" icon=question default=no -> yes\n"
           "expect text 109 \"Yes\"\n"
           "press 1\n"
           "box any /^Abort unzip operation\\?$/ -> default\n"
           "expect text 109 \"No\"\n"
           "note all done\n"
           "press 2\n");
    EXPECT_EQ(Run(AskingDialog()), 1);
    EXPECT_FALSE(HostScriptFailed()) << HostScriptFailures()[0];
    EXPECT_TRUE(HostFinishUser());
    EXPECT_EQ(asker.answers, (std::vector<int>{IDYES, IDNO}));
    const std::vector<std::string> &t = HostTranscript();
    auto has = [&](const std::string &s) {
        for (const std::string &line : t)
            if (line.find(s) != std::string::npos)
                return true;
        return false;
    };
    EXPECT_TRUE(has("dialog opened \"Asker\""));
    EXPECT_TRUE(has("box 1 shown: caption \"Morvik Self-Extractor\" text \"Abort unzip "
                    "operation?\" type 0x124 [Yes/No, default No]"));
    EXPECT_TRUE(has("box 1 answered Yes"));
    EXPECT_TRUE(has("clicked control 1 (BUTTON \"&Ask\")"));
    EXPECT_TRUE(has("step 8 (line 9): press 2"));
    EXPECT_TRUE(has("note: all done"));
    EXPECT_TRUE(has("dialog ended \"Asker\" -> 1"));
}

// Every way a script can go wrong is loud, and the program still ends: the
// box gets its negative answer, the dialog Escape (Close here).
TEST_F(UserTest, ScriptFailuresAreLoudAndNothingHangs) {
    struct Case {
        const char *name;
        const char *script;
        const char *why;
        std::vector<int> answers;
    } cases[] = {
        {"unexpected box",
         "press 1\n",
         "unexpected message box \"Morvik Self-Extractor\"",
         {IDCANCEL}},
        {"box text differs",
         "press 1\nbox okcancel \"insert disk 3\" -> ok\n",
         "does not match line 2",
         {IDCANCEL}},
        {"buttons differ",
         "press 1\nbox yesno \"disk 2\" -> yes\n",
         "its buttons are OK/Cancel",
         {IDCANCEL}},
        {"answer not offered",
         "press 1\nbox any \"disk 2\" -> retry\n",
         "does not offer",
         {IDCANCEL}},
        {"box expected, dialog waits", "box ok \"x\" -> ok\n", "expects a message box", {}},
        {"poll expected, dialog waits", "polls 2\n", "expects a busy program", {}},
        {"expectation fails", "expect text 109 \"Yes\"\n", "line 1 `expect text 109", {}},
        {"disabled button", "press 3\n", "is disabled", {}},
        {"missing control", "check 77\n", "control 77 does not exist", {}},
        {"script ends early", "expect visible 2\n", "the script has ended while dialog", {}},
    };
    for (const Case &c : cases) {
        SetUp();
        Asker asker;
        asker.Install();
        Script(c.script);
        std::vector<std::string> hooked;
        HostSetFailureHook([&](const std::string &why) { hooked.push_back(why); });
        testing::internal::CaptureStderr();
        EXPECT_EQ(Run(AskingDialog()), 1) << c.name << ": Escape reached Close";
        std::string err = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(HostScriptFailed()) << c.name;
        EXPECT_NE(HostScriptFailures()[0].find(c.why), std::string::npos)
            << c.name << ": " << HostScriptFailures()[0];
        EXPECT_NE(err.find("morvik-script: FAIL: "), std::string::npos) << c.name;
        EXPECT_EQ(hooked.size(), 1u) << c.name << ": one failure, then quiet";
        EXPECT_EQ(asker.answers, c.answers) << c.name;
    }
}

TEST_F(UserTest, UnfinishedScriptFailsAtTheEnd) {
    Asker asker;
    asker.Install();
    Script("press 2\npress 1\n");
    testing::internal::CaptureStderr();
    Run(AskingDialog());
    EXPECT_FALSE(HostScriptFailed());
    EXPECT_FALSE(HostFinishUser());
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(HostScriptFailed());
    EXPECT_NE(HostScriptFailures()[0].find("line 2 `press 1` was never reached"), std::string::npos)
        << HostScriptFailures()[0];
}

TEST_F(UserTest, ScriptSyntaxErrorsNameTheLine) {
    setenv("MORVIK_TEST_OUT", "/tmp/out", 1);
    unsetenv("MORVIK_TEST_UNSET");
    struct Case {
        const char *script;
        const char *error;
    } cases[] = {
        {"press 1\njump 3\n", "line 2: unknown step jump"},
        {"box maybe \"x\"\n", "line 1: unknown button set maybe"},
        {"box ok \"x -> ok\n", "line 1: unterminated string"},
        {"box ok /(/ -> ok\n", "line 1: bad regular expression"},
        {"box ok \"x\" -> later\n", "line 1: expected a button after ->"},
        {"\n\n  type 106 \"${MORVIK_TEST_UNSET}\"\n", "line 3: environment variable"},
        {"press one\n", "line 1: bad number for control id"},
        {"polls 0\n", "line 1: polls needs a count"},
        {"key 2 f13x\n", "line 1: unknown key f13x"},
        {"press 1 2\n", "line 1: unexpected 2"},
        {"relink 12 /x\n", "line 1: bad drive 12"},
        {"expect shiny 3\n", "line 1: unknown expectation shiny"},
    };
    for (const Case &c : cases) {
        std::string error;
        EXPECT_FALSE(HostMakeScriptedUser(c.script, &error)) << c.script;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.script << " -> " << error;
    }
    std::string error;
    EXPECT_TRUE(HostMakeScriptedUser("type 106 \"${MORVIK_TEST_OUT}/a b\"\n"
                                     "char dialog \" \" lparam=0x80000001\n"
                                     "key 2 enter\nkey dialog a lparam=1\n"
                                     "relink A: ${MORVIK_TEST_OUT}\n"
                                     "box abortretryignore /disk \\/ 2/ -> retry\n",
                                     &error))
        << error;
}

// A long operation polls the queue like the program's abort poll: input
// posted by the script at a chosen poll arrives there.
TEST_F(UserTest, InputIsInjectedAtTheChosenPoll) {
    struct Got {
        unsigned long poll;
        UINT message;
        int id; // control id of the target, -1 for the dialog
        LPARAM lParam;
    };
    std::vector<Got> got;
    std::vector<DWORD> ticks;
    DialogHandler(0) = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_TIMER)
            ticks.push_back(HostClockNow());
        if (m == WM_COMMAND && LOWORD(w) == 1) {
            SetTimer(d, 69, 500, nullptr);
            SetCursor(LoadCursorA(nullptr, IDC_WAIT));
            for (int i = 0; i < 12; ++i) {
                MSG msg;
                while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    if (msg.message == WM_TIMER || msg.message == WM_PAINT) {
                        DispatchMessageA(&msg);
                        continue;
                    }
                    got.push_back({HostPollCount(), msg.message,
                                   msg.hwnd == d ? -1 : HostControlId(msg.hwnd), msg.lParam});
                }
            }
            KillTimer(d, 69);
            SetCursor(LoadCursorA(nullptr, IDC_ARROW));
        }
        if (m == WM_COMMAND && LOWORD(w) == 2)
            EndDialog(d, 1);
        return FALSE;
    };
    Script("press 1\n"
           "polls 3\n"
           "click 2\n"
           "expect cursor wait\n"
           "polls 2\n"
           "char dialog a lparam=0x80000001\n"
           "key 109 escape\n"
           "advance 500\n"
           "polls 1\n"
           "command 2\n"
           "post dialog 0x0112 0xF060\n" // Alt+F4
           "dialog \"Asker\"\n"          // waits until the operation is over
           "expect cursor arrow\n"
           "press 2\n");
    EXPECT_EQ(Run(AskingDialog()), 1);
    EXPECT_FALSE(HostScriptFailed()) << HostScriptFailures()[0];
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].poll, 3u);
    EXPECT_EQ(got[0].message, static_cast<UINT>(WM_LBUTTONDOWN));
    EXPECT_EQ(got[0].id, 2);
    EXPECT_EQ(got[1].message, static_cast<UINT>(WM_LBUTTONUP));
    EXPECT_EQ(got[2].poll, 5u);
    EXPECT_EQ(got[2].message, static_cast<UINT>(WM_CHAR));
    EXPECT_EQ(got[2].id, -1);
    EXPECT_EQ(static_cast<uint32_t>(got[2].lParam), 0x80000001u);
    EXPECT_EQ(got[3].message, static_cast<UINT>(WM_KEYDOWN));
    EXPECT_EQ(got[3].id, 109);
    EXPECT_EQ(got[4].poll, 6u);
    EXPECT_EQ(got[4].message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(got[5].message, static_cast<UINT>(WM_SYSCOMMAND));
    EXPECT_EQ(got[5].id, -1);
    EXPECT_EQ(ticks, (std::vector<DWORD>{500}));
}

TEST_F(UserTest, NoTerminalUserTakesDefaultsAndNeverLoops) {
    struct Case {
        UINT type;
        std::vector<int> answers; // the same box asked three times in a row
    } cases[] = {
        {MB_OK, {IDOK, IDOK, IDOK}},
        {MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, {IDNO, IDNO, IDNO}},
        {MB_OKCANCEL, {IDOK, IDCANCEL, IDCANCEL}},
        {MB_ABORTRETRYIGNORE | MB_ICONQUESTION, {IDABORT, IDABORT, IDABORT}},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, {IDRETRY, IDABORT, IDABORT}},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, {IDCANCEL, IDCANCEL, IDCANCEL}},
        {MB_YESNOCANCEL, {IDYES, IDCANCEL, IDCANCEL}},
        {MB_RETRYCANCEL, {IDRETRY, IDCANCEL, IDCANCEL}},
    };
    for (const Case &c : cases) {
        SetUp();
        HostSetUser(HostMakeNoTerminalUser());
        std::vector<int> answers;
        DialogHandler(0) = [&](HWND d, UINT m, WPARAM, LPARAM) -> INT_PTR {
            if (m == WM_INITDIALOG)
                for (int i = 0; i < 3; ++i)
                    answers.push_back(MessageBoxA(d, "Please insert disk 2", "Morvik", c.type));
            if (m == WM_INITDIALOG)
                EndDialog(d, 5);
            return FALSE;
        };
        testing::internal::CaptureStderr();
        EXPECT_EQ(Run(AskingDialog()), 5);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(answers, c.answers) << std::hex << c.type;
        EXPECT_NE(err.find("Morvik: Please insert disk 2"), std::string::npos) << err;
    }

    // A dialog that ignores everything: Enter, then Escape, then given up.
    SetUp();
    HostSetUser(HostMakeNoTerminalUser());
    std::vector<int> commands;
    DialogHandler(0) = [&](HWND, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_COMMAND)
            commands.push_back(LOWORD(w));
        return FALSE;
    };
    testing::internal::CaptureStderr();
    EXPECT_EQ(Run(AskingDialog()), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(commands, (std::vector<int>{1, IDCANCEL}));

    // A dialog like the main one: Enter unzips (a result box, OK), and the
    // changed dialog then gets Enter again, which now closes it.
    SetUp();
    HostSetUser(HostMakeNoTerminalUser());
    std::vector<int> order;
    DialogHandler(0) = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m != WM_COMMAND)
            return FALSE;
        order.push_back(LOWORD(w));
        if (LOWORD(w) == 1) {
            SendMessageA(d, DM_SETDEFID, 2, 0);
            order.push_back(MessageBoxA(d, "3 file(s) unzipped successfully", "M", MB_OK));
            SetDlgItemTextA(d, 109, "3 file(s) unzipped successfully");
        }
        if (LOWORD(w) == 2)
            EndDialog(d, 1);
        return FALSE;
    };
    testing::internal::CaptureStderr();
    EXPECT_EQ(Run(AskingDialog()), 1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(order, (std::vector<int>{1, IDOK, 2}));
}

TEST_F(UserTest, TerminalUserShowsTheDialogAndReadsLetters) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const char input[] = "o\n"       // tick Overwrite
                         "f\n"       // change the folder...
                         "/data/x\n" // ...to this
                         "q\n"       // no such letter
                         "\n"        // Enter: Ask (default) -> box
                         "n\n"       // answer No
                         "/data/y\n" // more than a letter: goes into the one field
                         "\n"        // Ask again
                         "y\n";      // Yes; then the input ends
    ASSERT_EQ(write(fds[1], input, sizeof input - 1), static_cast<ssize_t>(sizeof input - 1));
    close(fds[1]);
    FILE *out = tmpfile();
    ASSERT_NE(out, nullptr);
    HostSetUser(HostMakeTerminalUser(fds[0], out));

    std::vector<BYTE> bytes =
        TemplateBuilder(TEST_DIALOG_STYLE, 10, 10, 230, 114, "Morvik Self-Extractor - a.exe")
            .Control(0x82, 101, TEST_CONTROL | SS_NOPREFIX, 6, 6, 162, 24, "To unzip all files")
            .Control(0x82, 105, TEST_CONTROL, 6, 32, 74, 8, "Unzip to &folder: ")
            .Control(0x81, 106, TEST_CONTROL | WS_BORDER | WS_TABSTOP, 6, 40, 108, 12, "/tmp")
            .Control(0x80, 102, TEST_CONTROL | WS_TABSTOP | BS_AUTOCHECKBOX, 6, 56, 161, 10,
                     "&Overwrite files without prompting")
            .Control(0x80, 111, WS_CHILD | BS_AUTOCHECKBOX, 6, 70, 166, 10, "&Hidden one")
            .Control(0x80, 1, TEST_CONTROL | WS_TABSTOP | BS_DEFPUSHBUTTON, 174, 6, 50, 14, "&Ask")
            .Control(0x80, 2, TEST_CONTROL | WS_TABSTOP, 174, 42, 50, 14, "&Close")
            .Bytes();
    std::vector<int> answers;
    std::vector<std::string> folders;
    int overwrite = -1;
    DialogHandler(0) = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_COMMAND && LOWORD(w) == 1) {
            char buffer[300];
            GetDlgItemTextA(d, 106, buffer, sizeof buffer);
            folders.push_back(buffer);
            overwrite = static_cast<int>(SendDlgItemMessageA(d, 102, BM_GETCHECK, 0, 0));
            answers.push_back(MessageBoxA(d, "Go ahead?", "Question", MB_YESNO));
        }
        if (m == WM_COMMAND && LOWORD(w) == 2)
            EndDialog(d, 9);
        return FALSE;
    };
    EXPECT_EQ(Run(bytes), 9) << "the end of input closes the dialog";
    close(fds[0]);

    fflush(out);
    rewind(out);
    std::string shown;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, out)) > 0)
        shown.append(chunk, n);
    fclose(out);
    EXPECT_EQ(folders, (std::vector<std::string>{"/data/x", "/data/y"}));
    EXPECT_EQ(overwrite, BST_CHECKED);
    EXPECT_EQ(answers, (std::vector<int>{IDNO, IDYES}));
    for (const char *expected :
         {"== Morvik Self-Extractor - a.exe ==", "To unzip all files", "Unzip to [f]older: /tmp",
          "( ) [O]verwrite files without prompting", "(x) [O]verwrite files without prompting",
          "<[A]sk (Enter)>", "<[C]lose (Esc)>", "f = edit \"Unzip to folder\"",
          "Unzip to folder (Enter alone keeps \"/tmp\"): ", "Unzip to [f]older: /data/x",
          "Unknown choice \"q\"", "(typed into the field)", "(or just type the new text)",
          "--- Question ---\nGo ahead?\n[Y]es (Enter)  [N]o", "(end of input"})
        EXPECT_NE(shown.find(expected), std::string::npos) << expected << "\n---\n" << shown;
    EXPECT_EQ(shown.find("Hidden one"), std::string::npos) << "hidden controls are not shown";
}

// Without a terminal nobody can type a password: the dialog is cancelled
// at once, with a line that says why, and OK is never pressed on it.
TEST_F(UserTest, NoTerminalUserCancelsAPasswordDialog) {
    HostSetUser(HostMakeNoTerminalUser());
    std::vector<BYTE> bytes =
        TemplateBuilder(TEST_DIALOG_STYLE, 10, 10, 186, 74, "Morvik Self-Extractor - Password")
            .Control(0x82, 401, TEST_CONTROL, 6, 6, 174, 24, "Password:")
            .Control(0x81, 402, TEST_CONTROL | WS_BORDER | WS_TABSTOP | ES_PASSWORD, 6, 38, 174, 12,
                     "")
            .Control(0x80, 1, TEST_CONTROL | WS_TABSTOP | BS_DEFPUSHBUTTON, 30, 56, 50, 14, "OK")
            .Control(0x80, 2, TEST_CONTROL | WS_TABSTOP, 100, 56, 50, 14, "Cancel")
            .Bytes();
    std::vector<int> commands;
    DialogHandler(0) = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m != WM_COMMAND)
            return FALSE;
        commands.push_back(LOWORD(w));
        if (LOWORD(w) == 2)
            EndDialog(d, 0);
        return FALSE;
    };
    testing::internal::CaptureStderr();
    EXPECT_EQ(Run(bytes), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(commands, (std::vector<int>{IDCANCEL}));
    EXPECT_EQ(err, "Morvik Self-Extractor - Password: no password can be given: standard input "
                   "is not a terminal; pressing Escape\n");
}

// What the terminal user writes, read back from a file.
std::string ReadBack(FILE *out) {
    fflush(out);
    rewind(out);
    std::string shown;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, out)) > 0)
        shown.append(chunk, n);
    fclose(out);
    return shown;
}

// Lines are cut at blanks to the width (COLUMNS when the output is no
// terminal); paths show with this host's separators, except a path in drive
// form and a name in quotes; when the program's dialog ends, its status line
// says how, unless it was already on the screen.
TEST_F(UserTest, TerminalUserWrapsAtBlanksAndWritesHostPaths) {
    setenv("COLUMNS", "41", 1);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const char input[] = "\n"  // Ask -> the box
                         "y\n" // Yes
                         "c\n";
    ASSERT_EQ(write(fds[1], input, sizeof input - 1), static_cast<ssize_t>(sizeof input - 1));
    close(fds[1]);
    FILE *out = tmpfile();
    ASSERT_NE(out, nullptr);
    HostSetUser(HostMakeTerminalUser(fds[0], out));
    DialogHandler(0) = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_COMMAND && LOWORD(w) == 1) {
            MessageBoxA(d,
                        "File \\tmp\\out dir\\docs\\a.txt already exists.  Overwrite "
                        "file?\nError reading A:\\SETUP.EXE.\nZip contains the file name "
                        "\"x\\y\", which is odd.",
                        "Morvik", MB_YESNO);
            SetDlgItemTextA(d, 109, "Unzip Aborted");
            EndDialog(d, 1);
        }
        return FALSE;
    };
    EXPECT_EQ(Run(AskingDialog()), 1);
    close(fds[0]);
    unsetenv("COLUMNS");
    std::string shown = ReadBack(out);
    for (const char *expected : {"--- Morvik ---\nFile /tmp/out dir/docs/a.txt already\n"
                                 "exists.  Overwrite file?\n"
                                 "Error reading A:\\SETUP.EXE.\n"
                                 "Zip contains the file name \"x\\y\", which\n"
                                 "is odd.\n",
                                 "\nUnzip Aborted\n"})
        EXPECT_NE(shown.find(expected), std::string::npos) << expected << "\n---\n" << shown;
    std::istringstream lines(shown);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 40u) << line;
}

TEST_F(UserTest, TranscriptFileAndRelink) {
    char dir[] = "/tmp/morvik-window-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string links = std::string(dir) + "/dosdevices";
    ASSERT_EQ(mkdir(links.c_str(), 0700), 0);
    ASSERT_EQ(symlink("/nonexistent/disk1", (links + "/a:").c_str()), 0);
    setenv("MORVIK_DOSDEVICES", links.c_str(), 1);
    std::string transcript = std::string(dir) + "/transcript.txt";
    HostSetTranscriptFile(transcript);

    Asker asker;
    asker.Install();
    Script("press 1\n"
           "box okcancel \"insert disk 2\"\n"
           "relink a: /media/disk2\n"
           "answer ok\n"
           "press 2\n");
    Run(AskingDialog());
    EXPECT_FALSE(HostScriptFailed()) << HostScriptFailures()[0];
    char target[256] = {0};
    ASSERT_GT(readlink((links + "/a:").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "/media/disk2");
    HostSetTranscriptFile("");

    std::ifstream in(transcript);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_NE(content.str().find("drive a: now links to /media/disk2\n"), std::string::npos);
    EXPECT_NE(content.str().find("box 1 answered OK\n"), std::string::npos);

    unlink((links + "/a:").c_str());
    rmdir(links.c_str());
    unlink(transcript.c_str());
    rmdir(dir);
    unsetenv("MORVIK_DOSDEVICES");
}

TEST(UserDeathTest, StandaloneFailuresExitWith97) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            HostUiReset();
            setenv("MORVIK_SCRIPT_TEXT", "press 1\nwobble\n", 1);
            HostInitUserFromEnvironment();
        },
        testing::ExitedWithCode(97), "morvik-script: FAIL: MORVIK_SCRIPT_TEXT: line 2: unknown");
    EXPECT_EXIT(
        {
            HostUiReset();
            setenv("MORVIK_SCRIPT_TEXT", "box ok \"never\" -> ok\n", 1);
            HostInitUserFromEnvironment();
            HostFinishUser();
            exit(0);
        },
        testing::ExitedWithCode(97), "the program ended before the script did");
}

} // namespace
