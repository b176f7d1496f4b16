// The user interface's Parts in one process, on the headless window host:
// the progress meter inside the main dialog built from the real template
// (its messages, its painting as the recording GDI sees it, its text), the
// rule of the delayed meter's timer tick, and the status line that a whole
// start-up leaves when the main dialog ends.
#include "extract/extract.h"
#include "posix/host.h"
#include "posix/window_host.h"
#include "startup/startup.h"
#include "tests/support/support.h"
#include "ui/ui.h"

#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The session fixture of the in-process tests (part_session.cpp).
namespace parttest {
void OpenSession();
void CloseSession();
void PrepareStartUp(const std::string &package);
void UseUser(std::function<int(const HostBox &)> onBox, std::function<bool(HWND)> onIdle);
void ResetUi();
} // namespace parttest

namespace {

class UiParts : public ::testing::Test {
  protected:
    void SetUp() override { parttest::OpenSession(); }
    void TearDown() override { parttest::CloseSession(); }

    // Runs the main dialog from the real template with its real procedure;
    // each time the dialog waits for input the next step runs, and when the
    // steps are used up the dialog ends.
    static void WithMainDialog(const std::vector<std::function<void(HWND dialog)>> &steps) {
        strcpy(packagePath, "C:\\Packages\\setup.exe");
        strcpy(unzipFolder, "C:\\Out");
        RegisterMeterClass(nullptr);
        void *dialogTemplate = AllocGlobalBlock(MAIN_DIALOG_COPY);
        ASSERT_NE(dialogTemplate, nullptr);
        memcpy(dialogTemplate, MessageText(MSG_MAIN_DIALOG), MAIN_DIALOG_COPY);
        size_t next = 0;
        parttest::UseUser(nullptr, [&](HWND dialog) {
            if (next == steps.size())
                return false;
            steps[next++](dialog);
            return true;
        });
        INT_PTR result = DialogBoxIndirectParamA(nullptr, (LPCDLGTEMPLATEA)dialogTemplate, nullptr,
                                                 MainDialogProc, 0);
        FreeGlobalBlock(dialogTemplate);
        EXPECT_NE(result, -1) << HostLastTemplateError();
        EXPECT_EQ(next, steps.size()) << "every step ran";
    }
};

// ---- opening -------------------------------------------------------------------------------

TEST_F(UiParts, MainDialogOpensCentredWithItsFolderLimit) {
    // The window: 230 x 114 dialog units are 345 x 185 pixels of client
    // area, inside a 3-pixel frame and a 19-pixel caption: 351 x 210.
    struct Row {
        int screenX, screenY, x, y;
    } rows[] = {
        {1024, 768, 336, 279},
        {1025, 769, 337, 279}, // halves truncate
        {300, 200, -25, -5},   // a window larger than the screen
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.screenX) + " x " + std::to_string(row.screenY));
        HostSetScreenSize(row.screenX, row.screenY);
        WithMainDialog({[&](HWND dialog) {
            RECT rect;
            ASSERT_TRUE(GetWindowRect(dialog, &rect));
            EXPECT_EQ(rect.right - rect.left, 351);
            EXPECT_EQ(rect.bottom - rect.top, 210);
            EXPECT_EQ(rect.left, row.x);
            EXPECT_EQ(rect.top, row.y);
            EXPECT_EQ(HostEditLimit(GetDlgItem(dialog, CTL_FOLDER)), 260u);
            EXPECT_EQ(session.mainWindow, dialog);
        }});
    }
}

// ---- the meter's messages -------------------------------------------------------------------

TEST_F(UiParts, MeterRangeAndPositionAreSixteenBitWords) {
    WithMainDialog({[](HWND dialog) {
        HWND meter = GetDlgItem(dialog, CTL_METER);
        ASSERT_NE(meter, nullptr);
        EXPECT_EQ(HostWindowClass(meter), "meter");
        EXPECT_FALSE(IsWindowVisible(meter)) << "hidden as the dialog opens";
        // WM_CREATE set range 100, then position 50.
        EXPECT_EQ(SendMessageA(meter, METER_GETRANGE, 0, 0), 100);
        EXPECT_EQ(SendMessageA(meter, METER_GETPOS, 0, 0), 50);
        EXPECT_EQ(SendMessageA(meter, WM_GETDLGCODE, 0, 0), DLGC_STATIC);
        struct Row {
            UINT set, get;
            WPARAM value;
            LRESULT read;
        } rows[] = {
            {METER_SETRANGE, METER_GETRANGE, 70000, 4464},
            {METER_SETRANGE, METER_GETRANGE, 65535, 65535},
            {METER_SETRANGE, METER_GETRANGE, 0, 0},
            {METER_SETPOS, METER_GETPOS, 65536 + 7, 7},
            {METER_SETPOS, METER_GETPOS, 0x1FFFF, 65535},
            {METER_SETPOS, METER_GETPOS, 100, 100},
        };
        for (const Row &row : rows) {
            EXPECT_EQ(SendMessageA(meter, row.set, row.value, 0), 0);
            EXPECT_EQ(SendMessageA(meter, row.get, 12345, 0), row.read) << "value " << row.value;
        }
        EXPECT_TRUE(HostPaintsOf(meter).empty()) << "a hidden meter does not paint";
    }});
}

// ---- the meter's painting -------------------------------------------------------------------

TEST_F(UiParts, MeterPaintsTheBarInSwappedColours) {
    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
    const COLORREF highlightText = GetSysColor(COLOR_HIGHLIGHTTEXT);
    ASSERT_NE(highlight, highlightText);
    struct Row {
        const char *what;
        int dpi;
        WPARAM range, position;
        LONG filledRight;
        LONG fontHeight;
        int y;
    } rows[] = {
        // Client area: 218 x 12 dialog units are 327 x 19 pixels; the border
        // takes one on each side, leaving 325 x 17. x = 325 / 2 = 162.
        {"empty at position 0", 96, 100, 0, 0, -8, 1},
        {"half", 96, 100, 50, 162, -8, 1},
        {"full", 96, 100, 100, 325, -8, 1},
        {"range 0: an empty bar", 96, 0, 40, 0, -8, 1},
        {"position past the range: all filled", 96, 10, 20, 650, -8, 1},
        {"range 70000 is 4464", 96, 70000, 2232, 162, -8, 1},
        // h = 10 at -8 and 12 at -10: (17 - h) / 4 rounds down to 1.
        {"120 dpi", 120, 100, 50, 162, -10, 1},
        // -25 at 300 dpi: h = 31, (17 - 31) / 4 = -3.5 rounds down to -4.
        {"300 dpi: the quarter is floored", 300, 100, 50, 162, -25, -4},
    };
    WithMainDialog({[&](HWND dialog) {
        HWND meter = GetDlgItem(dialog, CTL_METER);
        ShowWindow(meter, SW_SHOW);
        for (const Row &row : rows) {
            SCOPED_TRACE(row.what);
            HostSetDpi(row.dpi);
            // The meter shows another text first, so that the move below
            // changes what it shows whatever the position.
            strcpy(session.outputPath, "C:\\Out\\other.txt");
            SendMessageA(meter, METER_SETRANGE, row.range, 0);
            strcpy(session.outputPath, "C:\\Out\\docs\\readme.txt");
            size_t before = HostPaintsOf(meter).size();
            SendMessageA(meter, METER_SETPOS, row.position, 0);
            std::vector<HostPaint> paints = HostPaintsOf(meter);
            ASSERT_EQ(paints.size(), before + 1) << "METER_SETPOS repaints at once";
            const HostPaint &paint = paints.back();
            EXPECT_EQ(paint.client.right, 325);
            EXPECT_EQ(paint.client.bottom, 17);
            EXPECT_EQ(paint.fontsCreated, 1);
            ASSERT_EQ(paint.texts.size(), 2u);
            const LONG right = paint.client.right, bottom = paint.client.bottom;
            const RECT expected[2] = {{0, 0, row.filledRight, bottom},
                                      {row.filledRight, 0, right, bottom}};
            for (int part = 0; part < 2; ++part) {
                const HostTextOut &out = paint.texts[part];
                SCOPED_TRACE(part == 0 ? "filled part" : "unfilled part");
                EXPECT_EQ(out.text, "Unzipping readme.txt");
                EXPECT_EQ(out.x, right / 2);
                EXPECT_EQ(out.y, row.y);
                EXPECT_EQ(out.options, (UINT)(ETO_CLIPPED | ETO_OPAQUE));
                EXPECT_TRUE(out.hasRect);
                EXPECT_EQ(out.rect.left, expected[part].left);
                EXPECT_EQ(out.rect.top, expected[part].top);
                EXPECT_EQ(out.rect.right, expected[part].right);
                EXPECT_EQ(out.rect.bottom, expected[part].bottom);
                EXPECT_EQ(out.align, (UINT)TA_CENTER);
                EXPECT_EQ(out.fontFace, "Helv");
                EXPECT_EQ(out.fontHeight, row.fontHeight);
                EXPECT_EQ(out.textColor, part == 0 ? highlightText : highlight);
                EXPECT_EQ(out.backColor, part == 0 ? highlight : highlightText);
            }
        }
        EXPECT_EQ(HostLiveGdiObjects(), 0) << "the meter font is deleted after each paint";
        EXPECT_EQ(HostLiveDcs(), 0);

        // Without a character height only the unfilled part is drawn.
        HostSetDpi(96);
        HostSetTextExtentFails(true);
        SendMessageA(meter, METER_SETPOS, 30, 0);
        const HostPaint paint = HostPaintsOf(meter).back();
        ASSERT_EQ(paint.texts.size(), 1u);
        EXPECT_EQ(paint.texts[0].rect.left, 30 * 325 / 100);
        EXPECT_EQ(paint.texts[0].textColor, highlight);
        HostSetTextExtentFails(false);
    }});
}

// A move or a refresh that would paint the same again paints nothing: the
// meter repaints when its filled part moves by a pixel or its text changes.
// Whatever the system invalidates is painted.
TEST_F(UiParts, MeterRepaintsOnlyWhenWhatItShowsChanges) {
    WithMainDialog({[&](HWND dialog) {
        HWND meter = GetDlgItem(dialog, CTL_METER);
        ShowWindow(meter, SW_SHOW);
        UpdateWindow(dialog);
        strcpy(session.outputPath, "C:\\Out\\first.txt");
        // 325 pixels over a range of 1000: positions 100 and 101 fill 32
        // pixels, 102 fills 33.
        SendMessageA(meter, METER_SETRANGE, 1000, 0);
        SendMessageA(meter, METER_SETPOS, 100, 0);
        ASSERT_EQ(HostLastPaintedText(meter), "Unzipping first.txt");
        struct Row {
            const char *what;
            std::function<void()> act;
            bool paints;
        } rows[] = {
            {"the same position again", [&] { SendMessageA(meter, METER_SETPOS, 100, 0); }, false},
            {"another position on the same pixel",
             [&] { SendMessageA(meter, METER_SETPOS, 101, 0); }, false},
            {"the next pixel", [&] { SendMessageA(meter, METER_SETPOS, 102, 0); }, true},
            {"the same range again", [&] { SendMessageA(meter, METER_SETRANGE, 1000, 0); }, false},
            {"a range that moves the edge", [&] { SendMessageA(meter, METER_SETRANGE, 500, 0); },
             true},
            {"a refresh with nothing new",
             [&] {
                 RefreshMeter(meter);
                 UpdateWindow(dialog);
             },
             false},
            {"a refresh with a new file name",
             [&] {
                 strcpy(session.outputPath, "C:\\Out\\second.txt");
                 RefreshMeter(meter);
                 UpdateWindow(dialog);
             },
             true},
            {"a move with a new file name on the same pixel",
             [&] {
                 strcpy(session.outputPath, "C:\\Out\\third.txt");
                 SendMessageA(meter, METER_SETPOS, 102, 0);
             },
             true},
            {"the system invalidates it",
             [&] {
                 InvalidateRect(meter, NULL, FALSE);
                 UpdateWindow(dialog);
             },
             true},
        };
        for (const Row &row : rows) {
            SCOPED_TRACE(row.what);
            size_t before = HostPaintsOf(meter).size();
            row.act();
            EXPECT_EQ(HostPaintsOf(meter).size(), before + (row.paints ? 1 : 0));
        }
        EXPECT_EQ(HostLastPaintedText(meter), "Unzipping third.txt");
        EXPECT_EQ(HostPaintsOf(meter).back().texts.at(0).rect.right, 102 * 325 / 500);
    }});
}

// ---- the progress text ----------------------------------------------------------------------

TEST_F(UiParts, ProgressTextInTheMeterAndTheStatusLine) {
    const std::string name89(89, 'n'), name90(90, 'n'), name200(200, 'n');
    struct Row {
        std::string outputPath;
        std::string meterText; // what the meter paints
    } rows[] = {
        {"", "Unzipping "},
        {"C:\\Out\\docs\\readme.txt", "Unzipping readme.txt"},
        {"C:/Out/docs/slash.txt", "Unzipping slash.txt"},
        {"bare.txt", "Unzipping bare.txt"},
        {"C:\\Out\\" + name89, "Unzipping " + name89}, // 99 characters: fits
        {"C:\\Out\\" + name90, ""},                    // one too many: shortened
        {"C:\\Out\\" + name200, ""},
    };
    WithMainDialog({[&](HWND dialog) {
        HWND meter = GetDlgItem(dialog, CTL_METER);
        HWND status = GetDlgItem(dialog, CTL_STATUS);
        ShowWindow(meter, SW_SHOW);
        for (const Row &row : rows) {
            SCOPED_TRACE(row.outputPath);
            strcpy(session.outputPath, row.outputPath.c_str());
            std::string full = "Unzipping " + std::string(FileNamePart(row.outputPath.c_str()));
            SendMessageA(meter, METER_SETPOS, 10, 0);
            std::string painted = HostLastPaintedText(meter);
            if (!row.meterText.empty()) {
                EXPECT_EQ(painted, row.meterText);
            } else {
                EXPECT_LE(painted.size(), (size_t)METER_TEXT_SIZE - 1) << "no overrun";
                EXPECT_EQ(painted.substr(painted.size() - 3), "...");
                EXPECT_EQ(painted.compare(0, 20, full, 0, 20), 0) << painted;
            }
            // The status line takes the whole text while the meter is hidden...
            session.meterVisible = FALSE;
            UpdateStatusLine();
            EXPECT_EQ(HostWindowText(status), full);
            // ...and is left alone while it shows.
            SetWindowTextA(status, "unchanged");
            session.meterVisible = TRUE;
            UpdateStatusLine();
            EXPECT_EQ(HostWindowText(status), "unchanged");
        }
    }});
}

// ---- the delayed meter's tick ---------------------------------------------------------------

TEST_F(UiParts, TimerTickShowsTheMeterOnlyEarlyInARun) {
    struct Row {
        BOOL active;
        uint32_t bytesDecoded, totalSize;
        bool shown;
    } rows[] = {
        {TRUE, 0, 3000, true},     {TRUE, 999, 3000, true},
        {TRUE, 1000, 3000, false},                          // exactly a third
        {TRUE, 999, 2999, false},                           // 2999 / 3 is 999
        {TRUE, 1000, 3002, false},                          // 3002 / 3 is 1000
        {TRUE, 0, 0, false},       {FALSE, 0, 3000, false}, // no extraction running
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.bytesDecoded) + " of " + std::to_string(row.totalSize) +
                     (row.active ? "" : ", no run"));
        session.meterVisible = FALSE;
        WithMainDialog(
            {[&](HWND dialog) {
                 session.extractionActive = row.active;
                 session.bytesDecoded = row.bytesDecoded;
                 sfxHeader.totalSize = row.totalSize;
                 PostMessageA(dialog, WM_TIMER, METER_TIMER_ID, 0);
             },
             [&](HWND dialog) {
                 EXPECT_EQ(IsWindowVisible(GetDlgItem(dialog, CTL_METER)) != FALSE, row.shown);
                 EXPECT_EQ(IsWindowVisible(GetDlgItem(dialog, CTL_STATUS)) != FALSE, !row.shown);
                 EXPECT_EQ(session.meterVisible != FALSE, row.shown);
                 session.extractionActive = FALSE;
             }});
    }
}

// The delayed meter's timer is started at Unzip only for a package that is
// not spanned and whose end record lies below 0x80000, the offset read as a
// signed number. (The extraction itself then fails at once: no archive is
// open, and the error box takes its default button.)
TEST_F(UiParts, MeterTimerOnlyForSmallPackagesThatAreNotSpanned) {
    struct Row {
        uint32_t endRecordOffset, options;
        bool timer;
    } rows[] = {
        {0, 0, true},
        {0x7FFFF, 0, true},
        {0x80000, 0, false},
        {0x7FFFFFFF, 0, false},
        {0x80000000u, 0, true}, // negative as a signed number
        {0xFFFFFFFFu, 0, true},
        {0x7FFFF, OPT_SPANNED, false},
        {0, OPT_SPANNED, false},
    };
    for (const Row &row : rows) {
        char what[64];
        snprintf(what, sizeof what, "end record at 0x%X%s", row.endRecordOffset,
                 row.options ? ", spanned" : "");
        SCOPED_TRACE(what);
        parttest::ResetUi();
        sfxHeader.endRecordOffset = row.endRecordOffset;
        sfxHeader.options = row.options;
        WithMainDialog({[&](HWND dialog) { SendMessageA(dialog, WM_COMMAND, IDOK, 0); }});
        bool timerSet = false;
        for (const std::string &line : HostTranscript())
            timerSet = timerSet || line.find("timer 69 set: 500") != std::string::npos;
        EXPECT_EQ(timerSet, row.timer);
    }
}

// ---- a whole start-up: the status line as the dialog ends -----------------------------------

// The scripted user, and a record of the main dialog's status line and meter
// at the moment the dialog ends.
class RecordingUser : public HostUser {
  public:
    explicit RecordingUser(std::unique_ptr<HostUser> script) : script_(std::move(script)) {}
    int OnMessageBox(const HostBox &box) override { return script_->OnMessageBox(box); }
    bool OnDialogIdle(HWND dialog) override { return script_->OnDialogIdle(dialog); }
    void OnPoll(unsigned long poll) override { script_->OnPoll(poll); }
    bool Finished() const override { return script_->Finished(); }
    void ReportUnfinished() override { script_->ReportUnfinished(); }
    void OnDialogEnded(HWND dialog, INT_PTR result) override {
        if (GetDlgItem(dialog, CTL_STATUS) != nullptr) {
            status = HostWindowText(GetDlgItem(dialog, CTL_STATUS));
            meterVisible = IsWindowVisible(GetDlgItem(dialog, CTL_METER)) != FALSE;
            unzipStyle = HostWindowStyle(GetDlgItem(dialog, IDOK)) & BS_TYPEMASK;
            closeStyle = HostWindowStyle(GetDlgItem(dialog, IDCANCEL)) & BS_TYPEMASK;
            ended = true;
        }
        script_->OnDialogEnded(dialog, result);
    }
    std::string status;
    bool meterVisible = true;
    DWORD unzipStyle = 0, closeStyle = 0;
    bool ended = false;

  private:
    std::unique_ptr<HostUser> script_;
};

std::string Noise(size_t size) {
    std::string out(size, '\0');
    uint32_t seed = 99;
    for (char &c : out) {
        seed = seed * 1103515245u + 12345u;
        c = (char)(seed >> 23);
    }
    return out;
}

// ---- Browse -------------------------------------------------------------------------------

// A user who presses Browse once, answers the picker, and then gives the
// dialog up.
class BrowsingUser : public HostUser {
  public:
    explicit BrowsingUser(std::string folder) : folder_(std::move(folder)) {}
    int OnMessageBox(const HostBox &box) override { return box.defaultButton; }
    bool OnDialogIdle(HWND dialog) override {
        if (pressed_)
            return false;
        pressed_ = true;
        std::string why;
        EXPECT_TRUE(HostUiPress(dialog, CTL_BROWSE, &why)) << why;
        return true;
    }
    bool OnBrowseForFolder(const HostBrowse &browse, std::string *folder) override {
        title = browse.title;
        flags = browse.flags;
        owner = browse.owner;
        if (folder_.empty())
            return false;
        *folder = folder_;
        return true;
    }
    std::string title;
    UINT flags = 0;
    HWND owner = nullptr;

  private:
    std::string folder_;
    bool pressed_ = false;
};

// Whatever the picker does, the item list it gave is freed and the
// allocator released; a chosen folder becomes the unzip folder.
TEST_F(UiParts, BrowseFreesTheItemListAndReleasesTheAllocator) {
    struct Row {
        const char *shell, *chosen, *folder;
    } rows[] = {
        {"", "D:\\Chosen Dir", "D:\\Chosen Dir"},
        {"", "", "C:\\Out"},
        {"path-fails", "D:\\Chosen", "C:\\Out"},
        {"malloc-fails", "D:\\Chosen", "C:\\Out"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.shell + std::string(" ") + row.chosen);
        setenv("MORVIK_SHELL32", row.shell, 1);
        LoadShellProcs();
        newShell = TRUE;
        strcpy(packagePath, "C:\\Packages\\setup.exe");
        strcpy(unzipFolder, "C:\\Out");
        RegisterMeterClass(nullptr);
        void *dialogTemplate = AllocGlobalBlock(MAIN_DIALOG_COPY);
        ASSERT_NE(dialogTemplate, nullptr);
        memcpy(dialogTemplate, MessageText(MSG_MAIN_DIALOG), MAIN_DIALOG_COPY);
        auto owned = std::make_unique<BrowsingUser>(row.chosen);
        BrowsingUser *user = owned.get();
        HostSetUser(std::move(owned));
        DialogBoxIndirectParamA(nullptr, (LPCDLGTEMPLATEA)dialogTemplate, nullptr, MainDialogProc,
                                0);
        FreeGlobalBlock(dialogTemplate);
        EXPECT_STREQ(unzipFolder, row.folder);
        if (strcmp(row.shell, "malloc-fails") != 0) {
            EXPECT_EQ(user->title, "Unzip to Folder:");
            EXPECT_EQ(user->flags, static_cast<UINT>(BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS));
            EXPECT_NE(user->owner, nullptr);
        } else {
            EXPECT_EQ(user->title, "") << "no picker without an allocator";
        }
        EXPECT_EQ(HostShellLiveItemLists(), 0u);
        EXPECT_EQ(HostShellAllocatorReferences(), 0);
        FreeLibrary(shellProcs.library);
        memset(&shellProcs, 0, sizeof shellProcs);
        newShell = FALSE;
        unsetenv("MORVIK_SHELL32");
    }
}

TEST(UiStartUp, StatusLineWhenTheMainDialogEnds) {
    const std::string aborted = "Unzip Aborted";
    struct Row {
        const char *what;
        bool autoMode, existingA, damaged;
        std::string script;
        std::string status;
        int exitCode;            // what StartUp returns, the program's exit code
        bool timerFails = false; // a small package, and SetTimer fails
    } rows[] = {
        {"completed run", false, false, false, "press 1\nbox ok \"unzipped\" -> ok\npress 2\n",
         "3 file(s) unzipped successfully", 0},
        {"completed run in auto mode", true, false, false, "", "3 file(s) unzipped successfully",
         0},
        {"failed run in auto mode", true, false, true, "box ok \"Bad CRC\" -> ok\n", aborted, 2},
        {"abort confirmed", false, false, false,
         "press 1\npolls 3\nclick 2\nbox yesno \"Abort unzip operation?\" -> yes\n", aborted, 2},
        {"overwrite prompt cancelled", false, true, false,
         "press 1\nbox yesnocancel \"already exists\" -> cancel\n", aborted, 1},
        // Without a timer the meter shows at once, also for a small package.
        {"no timer to be had", false, false, false,
         "press 1\npolls 1\nexpect visible 201\nexpect hidden 109\nbox ok \"unzipped\" -> ok\n"
         "press 2\n",
         "3 file(s) unzipped successfully", 0, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        std::string dir = test::TempDir("startup");
        test::MakeDirs(dir + "/files");
        test::WriteFile(dir + "/files/a.txt", "alpha\n");
        test::WriteFile(dir + "/files/big.bin", Noise(200000));
        test::WriteFile(dir + "/files/c.txt", "charlie\n");
        // Stored members: a changed byte of a.txt is a bad CRC.
        test::Shell("zip -q -0 ../archive.zip a.txt big.bin c.txt", dir + "/files");
        std::string out = dir + "/out";
        if (row.existingA) {
            test::MakeDirs(out);
            test::WriteFile(out + "/a.txt", "old\n");
        }
        std::vector<std::string> options = {"--folder=" + out};
        if (row.autoMode)
            options.push_back("--auto");
        test::PackOrFail(dir + "/archive.zip", dir + "/setup.exe", options);
        std::string bytes = test::ReadFile(dir + "/setup.exe");
        if (row.damaged) {
            size_t at = bytes.rfind("alpha\n");
            ASSERT_NE(at, std::string::npos);
            bytes[at] = 'A';
        }
        if (row.timerFails) // the end record at 0: no probe, a small package
            memset(&bytes[bytes.find(std::string("QVD\x01sfx\x02", 8)) + 20], 0, 4);
        test::WriteFile(dir + "/setup.exe", bytes);

        parttest::PrepareStartUp(dir + "/setup.exe");
        HostSetTimerFails(row.timerFails);
        std::string error;
        std::unique_ptr<HostUser> script = HostMakeScriptedUser(row.script, &error);
        ASSERT_TRUE(script) << error;
        auto recording = std::make_unique<RecordingUser>(std::move(script));
        RecordingUser *user = recording.get();
        HostSetUser(std::move(recording));
        char tail[] = "";
        EXPECT_EQ(StartUp(nullptr, tail), row.exitCode);
        EXPECT_TRUE(user->ended);
        EXPECT_EQ(user->status, row.status);
        EXPECT_FALSE(user->meterVisible);
        EXPECT_EQ(user->unzipStyle, (DWORD)BS_PUSHBUTTON) << "Close became the default button";
        EXPECT_EQ(user->closeStyle, (DWORD)BS_DEFPUSHBUTTON);
        EXPECT_TRUE(user->Finished());
        EXPECT_FALSE(HostScriptFailed());
        parttest::CloseSession();
    }
}

} // namespace
