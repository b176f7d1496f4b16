// fuzz_package: the stub's whole start-up on arbitrary package bytes.
//
// The input is the package file. Its SfxHeader is what the package builder
// would have filled in: the 48 bytes at the first "QVD\x01sfx\x02" in the
// input, or, without one, the first 48 bytes of the input (zero-filled when
// the input is shorter). The command line's tail comes from the input's end:
// the low six bits of the last byte give its length n, and it is the n bytes
// before that last byte (a real package ends in a 0 byte: no tail). So a
// package built by morvik-pack is a valid input as it stands, and one with
// "<tail><length>" appended runs with that command line.
//
// The package lies on drive A: (a drive link, MORVIK_DOSDEVICES), so that a
// spanned package finds its disk 1 there. The drive's volume label comes
// from the header's last field, which the stub does not read: its low byte
// 0 (what the builder leaves) gives "PKBACK# 001", 1 no label (no disk),
// 2 "PKBACK# 002", 3 "NOT A SET". A spanned package with .ZIP volumes finds
// its volume PACKAGE.ZIP beside it, holding the input from archiveOffset on.
//
// StartUp then runs as the entry point would call it: the self-check, the
// trailer, the message table, the end-record probe, "-info", the start-up
// message, the command line and the main dialog, answered by the
// no-terminal user, who presses the default button of every box and dialog;
// so the dialog unzips the archive (typing the password "morvik" when asked)
// and ends.
//
// Everything the run may write lands inside a private folder tree: the
// current folder, TMP and TEMP and the Windows folder point into it, and an
// unzip folder that names a place outside it (an absolute path, a "..") is
// replaced in the dialog's folder field, as a user could, before the dialog
// acts. After every input the target checks that nothing else changed, that
// no heap block, file descriptor or GDI object is left behind (after an early
// end of start-up: none that the program's globals do not hold), and that
// StartUp returned an exit code of 0, 1 or 2.
#include "fuzz/fuzz_support.h"

#include "extract/extract.h"
#include "posix/host.h"
#include "posix/window_host.h"
#include "startup/startup.h"
#include "ui/ui.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

const char kPassword[] = "morvik";
const long long kWriteLimit = 8 << 20; // bytes one input may write: then the disk is full
const size_t kTailLengthMask = 0x3F;

fuzz::Sandbox sandbox;
std::string packageFile, labelFile, volumeFile;

// Whether the unzip folder in the dialog stays inside the folders the run
// may write to: the current folder (relative folders, "."), TMP and TEMP.
bool Confined(const std::string &folder) {
    std::string host = HostPathFromWindows(folder.c_str());
    if (host.empty())
        return true; // a drive that does not exist: nothing is written
    std::string rest = host;
    if (host[0] == '/') {
        rest.clear();
        bool inside = false;
        for (const char *open : {"work", "tmp"}) {
            std::string prefix = sandbox / open;
            if (host == prefix || host.compare(0, prefix.size() + 1, prefix + "/") == 0) {
                rest = host.substr(prefix.size());
                inside = true;
            }
        }
        if (!inside)
            return false;
    }
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find('/', start);
        if (end == std::string::npos)
            end = rest.size();
        if (rest.compare(start, end - start, "..") == 0 && end - start == 2)
            return false;
        start = end + 1;
    }
    return true;
}

// The no-terminal user, who also keeps the unzip folder inside the sandbox
// and types the password when the password dialog opens.
class PackageUser : public HostUser {
  public:
    PackageUser() : inner_(HostMakeNoTerminalUser()) {}
    int OnMessageBox(const HostBox &box) override { return inner_->OnMessageBox(box); }
    bool OnDialogIdle(HWND dialog) override { return inner_->OnDialogIdle(dialog); }
    void OnPoll(unsigned long poll) override { inner_->OnPoll(poll); }
    void OnDialogEnded(HWND dialog, INT_PTR result) override {
        inner_->OnDialogEnded(dialog, result);
    }
    void OnDialogOpened(HWND dialog) override {
        if (HWND folder = GetDlgItem(dialog, CTL_FOLDER)) {
            // Before the dialog acts, auto mode included: its Unzip command
            // is still queued.
            char text[FOLDER_BUFFER_SIZE];
            GetWindowTextA(folder, text, sizeof text);
            if (!Confined(text))
                SetWindowTextA(folder, "unzipped");
        }
        if (GetDlgItem(dialog, CTL_PASSWORD)) {
            std::string why;
            if (!HostUiType(dialog, CTL_PASSWORD, kPassword, &why))
                fuzz::Finding("cannot type the password: " + why);
        }
        inner_->OnDialogOpened(dialog);
    }

  private:
    std::unique_ptr<HostUser> inner_;
};

void SetHeaderFrom(const uint8_t *data, size_t size) {
    static const uint8_t signature[SFX_SIGNATURE_SIZE] = {SFX_SIGNATURE_BYTES};
    size_t at = 0;
    for (size_t i = 0; i + SFX_SIGNATURE_SIZE <= size; i++) {
        if (!memcmp(data + i, signature, SFX_SIGNATURE_SIZE)) {
            at = i;
            break;
        }
    }
    memset(&sfxHeader, 0, sizeof sfxHeader);
    size_t available = size - at;
    memcpy(&sfxHeader, data + at, available < sizeof sfxHeader ? available : sizeof sfxHeader);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzz::MakeArtifactPathsAbsolute(argc, argv);
    sandbox.Create("morvik-fuzz-package", {"pkg", "work", "tmp", "windows", "home", "devices"});
    packageFile = sandbox / "pkg/PACKAGE.EXE";
    labelFile = sandbox / "pkg/.windows-label";
    volumeFile = sandbox / "pkg/PACKAGE.ZIP";
    if (symlink((sandbox / "pkg").c_str(), (sandbox / "devices/a:").c_str()) != 0)
        fuzz::Finding("cannot link drive A: to " + sandbox / "pkg");
    // The host's environment: nothing of the user's own, everything inside
    // the sandbox, drive A: only (the package's), no injected failures.
    for (const char *name :
         {"MORVIK_ANSI_CODEPAGE", "MORVIK_WINVER_MAJOR", "MORVIK_FAIL_WRITES_AFTER",
          "MORVIK_FAIL_ALLOC", "MORVIK_SCRIPT", "MORVIK_SCRIPT_TEXT", "MORVIK_TRANSCRIPT"})
        unsetenv(name);
    setenv("TMP", (sandbox / "tmp").c_str(), 1);
    setenv("TEMP", (sandbox / "tmp").c_str(), 1);
    setenv("MORVIK_WINDIR", (sandbox / "windows").c_str(), 1);
    setenv("MORVIK_REGISTRY", (sandbox / "home/registry.txt").c_str(), 1);
    setenv("HOME", (sandbox / "home").c_str(), 1);
    setenv("MORVIK_DOSDEVICES", (sandbox / "devices").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::InFolder inFolder(sandbox / "work");
    int descriptors = fuzz::OpenDescriptors();
    fuzz::ResetProgramState();
    fuzz::WriteBytes(packageFile, data, size);
    SetHeaderFrom(data, size);
    std::vector<std::string> expected = {"pkg/",     "pkg/PACKAGE.EXE", "work/",    "tmp/",
                                         "windows/", "home/",           "devices/", "devices/a:"};
    static const char *const labels[] = {"PKBACK# 001", NULL, "PKBACK# 002", "NOT A SET"};
    if (const char *label = labels[sfxHeader.reserved2 & 3]) {
        fuzz::WriteBytes(labelFile, (const uint8_t *)label, strlen(label));
        expected.push_back("pkg/.windows-label");
    }
    if ((sfxHeader.options & OPT_SPANNED) && !(sfxHeader.options & OPT_EXE_VOLUMES) &&
        sfxHeader.archiveOffset <= size) {
        fuzz::WriteBytes(volumeFile, data + sfxHeader.archiveOffset,
                         size - sfxHeader.archiveOffset);
        expected.push_back("pkg/PACKAGE.ZIP");
    }

    char tail[kTailLengthMask + 1] = {0};
    if (size > 0) {
        size_t length = data[size - 1] & kTailLengthMask;
        if (length > size - 1)
            length = size - 1;
        memcpy(tail, data + size - 1 - length, length);
    }

    HostSetModulePath(packageFile.c_str());
    HostFailWritesAfter(kWriteLimit);
    HostSetUser(std::make_unique<PackageUser>());

    int result = StartUp(GetModuleHandleA(NULL), tail);
    if (result < 0 || result > 2)
        fuzz::Finding("StartUp returned " + std::to_string(result));

    // A start-up that ran to its end has released everything but the
    // password, which lives until the program ends. After an early end the
    // program would end with its blocks still held by its globals: those are
    // released here. A block that nothing holds any more is lost, and
    // LeakSanitizer reports it when the real program exits.
    bool ranToTheEnd = session.landingPoint == NULL;
    if (ranToTheEnd) {
        if (session.archiveFile || session.outputFile || session.window || session.inputBuffer ||
            session.outputBuffer || customTitle || infoText || session.messageBuffer ||
            messageTable)
            fuzz::Finding("start-up ended without releasing everything");
        FreeGlobalBlock(session.password);
        session.password = NULL;
        if (fuzz::LiveHeapBlocks() != 0)
            fuzz::Finding("start-up ran to its end and left heap blocks behind:\n" +
                          fuzz::DescribeLiveHeapBlocks());
    } else {
        fuzz::ReleaseProgramState();
        if (fuzz::LiveHeapBlocks() != 0) {
            std::string blocks = fuzz::DescribeLiveHeapBlocks();
            fuzz::FreeLiveHeapBlocks();
            fuzz::Finding("start-up ended early and lost heap blocks that no global holds:\n" +
                          blocks);
        }
    }
    fuzz::PrintRunWhenAsked(sandbox.root());
    fuzz::CheckNoLiveGdi();
    if (fuzz::OpenDescriptors() != descriptors)
        fuzz::Finding("the run left " + std::to_string(fuzz::OpenDescriptors() - descriptors) +
                      " file descriptor(s) open");

    sandbox.Check(expected, {"work", "tmp", "windows", "home"});
    unlink(labelFile.c_str());
    unlink(volumeFile.c_str());
    for (const char *open : {"work", "tmp", "windows", "home"})
        fuzz::EmptyFolder(sandbox / open);
    // The host's records of this input go now: an input that frees what it
    // allocated spares libFuzzer's leak check a second run.
    fuzz::ResetProgramState();
    return 0;
}
