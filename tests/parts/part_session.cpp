// The in-process session of the Parts' unit tests: the Parts set up as
// start-up's package set-up leaves them (without a package file), or ready
// for a whole start-up on a package; a landing point for FatalExit; and a
// user made of two callables. The test files declare what they use in a
// `namespace parttest` block.
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

extern const uint8_t *messageTableSource;
extern uint32_t messageTableSourceSize;

namespace parttest {

namespace {

enum { WINDOW_BLOCK = 32776, BUFFER_BLOCK = 2068, TITLE_BLOCK = 65, INFO_BLOCK = 512 };

SfxHeader savedHeader;
const uint8_t *savedSource;
uint32_t savedSourceSize;

class CallableUser : public HostUser {
  public:
    CallableUser(std::function<int(const HostBox &)> box, std::function<bool(HWND)> idle)
        : box_(std::move(box)), idle_(std::move(idle)) {}
    int OnMessageBox(const HostBox &box) override { return box_ ? box_(box) : box.defaultButton; }
    bool OnDialogIdle(HWND dialog) override { return idle_ ? idle_(dialog) : false; }

  private:
    std::function<int(const HostBox &)> box_;
    std::function<bool(HWND)> idle_;
};

void ResetStartupGlobals() {
    autoMode = FALSE;
    newShell = FALSE;
    instance = nullptr;
    memset(&shellProcs, 0, sizeof shellProcs);
    memset(packagePath, 0, sizeof packagePath);
    customTitle = infoText = startupMessage = afterUnzipCommand = afterUnzipParameters = nullptr;
    messageTable = nullptr;
}

} // namespace

int Landing(const std::function<void()> &body) {
    jmp_buf landing;
    jmp_buf *previous = session.landingPoint;
    session.landingPoint = &landing;
    int code = setjmp(landing);
    if (code == 0)
        body();
    session.landingPoint = previous;
    return code;
}

// A user that answers boxes with `onBox` (else the default button) and idle
// dialogs with `onIdle` (else gives them up).
void UseUser(std::function<int(const HostBox &)> onBox, std::function<bool(HWND)> onIdle) {
    HostSetUser(std::make_unique<CallableUser>(std::move(onBox), std::move(onIdle)));
}

// Forgets the host's windows, boxes and transcript; the user answers boxes
// with their default button and gives idle dialogs up.

void ResetUi() {
    HostUiReset();
    HostSetFailuresFatal(false);
    UseUser(nullptr, nullptr);
}

// Saves what the tests change and puts the Parts and the host back to
// their start.
static void Begin() {
    savedHeader = sfxHeader;
    savedSource = messageTableSource;
    savedSourceSize = messageTableSourceSize;
    HostReset();
    ResetUi();
    ResetExtractSession();
    ResetStartupGlobals();
}

void PrepareStartUp(const std::string &package) {
    Begin();
    HostSetModulePath(package.c_str());
    std::string bytes = test::ReadFile(package);
    size_t at = bytes.find(std::string("QVD\x01sfx\x02", 8));
    ASSERT_NE(at, std::string::npos);
    memcpy(&sfxHeader, bytes.data() + at, sizeof sfxHeader);
}

void OpenSession() {
    Begin();
    BuildCrcTable();
    session.window = (uint8_t *)LocalAlloc(LMEM_ZEROINIT, WINDOW_BLOCK);
    session.inputBuffer = (uint8_t *)LocalAlloc(LMEM_ZEROINIT, BUFFER_BLOCK);
    session.outputBuffer = (uint8_t *)LocalAlloc(LMEM_ZEROINIT, BUFFER_BLOCK);
    session.messageBuffer = (char *)AllocGlobalBlock(MESSAGE_BUFFER_SIZE);
    customTitle = (char *)AllocGlobalBlock(TITLE_BLOCK);
    infoText = (char *)AllocGlobalBlock(INFO_BLOCK);
    ASSERT_TRUE(session.window && session.inputBuffer && session.outputBuffer &&
                session.messageBuffer && customTitle && infoText);
    ASSERT_EQ(Landing(InflateMessageTable), 0) << "the message table inflates";
    ASSERT_NE(messageTable, nullptr);
}

void CloseSession() {
    if (session.archiveFile)
        _lclose(session.archiveFile);
    if (session.outputFile)
        _lclose(session.outputFile);
    LocalFree(session.window);
    LocalFree(session.inputBuffer);
    LocalFree(session.outputBuffer);
    FreeGlobalBlock(session.messageBuffer);
    FreeGlobalBlock(customTitle);
    FreeGlobalBlock(infoText);
    FreeGlobalBlock(messageTable);
    ResetStartupGlobals();
    ResetExtractSession();
    sfxHeader = savedHeader;
    messageTableSource = savedSource;
    messageTableSourceSize = savedSourceSize;
    HostUiReset();
    HostReset();
}

} // namespace parttest
