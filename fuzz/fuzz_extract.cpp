// fuzz_extract: one extraction, as the main dialog's Unzip runs it, over
// arbitrary archive bytes.
//
// The input's first byte holds the settings of the run; the rest is the
// archive, written to a file that stands for the package (archiveOffset 0,
// no trailer, no self-check, no end-record probe):
//   bit 0     "Overwrite files without prompting"
//   bits 1-2  the password: none, "morvik" (the one the seed archives use),
//             "wrong", or 254 characters (the longest the dialog takes)
//   bit 3     ANSI code page 932 instead of 1252, or 65001 (UTF-8) for an
//             input of odd length
//   bit 4     the unzip folder is given with a trailing backslash
//   bit 5     after a run that returned 0, Unzip is pressed once more
//   bit 6     a spanned set: the next byte gives the number of disks (its
//             value modulo 4, plus 1) and the archive is split evenly over
//             them, on disk folders labelled "PKBACK# 00n" behind drive A:
//   bit 7     with bit 6: the volume files are named .EXE, not .ZIP
// The package set-up runs as start-up runs it; the unzip folder is a fresh
// folder for every input, the message boxes are answered by the no-terminal
// user (the default button: Yes at the overwrite question), except that a
// request for another disk of a spanned set "puts that disk into the drive"
// and answers OK, or Cancel when the set has no such disk.
//
// After every input the target checks that RunExtraction returned 0, 1 or 2
// with no member file left open, that nothing was created outside the unzip
// folder (the folders around it are watched, and the current folder must
// stay empty), and that no heap block, file descriptor or GDI object is left
// behind.
#include "fuzz/fuzz_support.h"

#include "extract/extract.h"
#include "posix/host.h"
#include "posix/window_host.h"
#include "startup/startup.h"
#include "ui/ui.h"

#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

namespace {

enum : uint8_t {
    SETTING_OVERWRITE = 0x01,
    SETTING_PASSWORD = 0x06,
    SETTING_CODE_PAGE_932 = 0x08,
    SETTING_TRAILING_BACKSLASH = 0x10,
    SETTING_UNZIP_TWICE = 0x20,
    SETTING_SPANNED = 0x40,
    SETTING_EXE_VOLUMES = 0x80,
};
enum { MAX_DISKS = 4 };

const long long kWriteLimit = 8 << 20; // bytes one input may write: then the disk is full

fuzz::Sandbox sandbox;
std::string archiveFile, unzipRoot;

// ---- the spanned set ----------------------------------------------------------------
// Drive A: is the link devices/a: (MORVIK_DOSDEVICES); the disk "in the drive"
// is the folder disks/diskN it points at.

int disksInSet; // 0: the archive is not spanned

std::string DiskFolder(int disk) {
    return sandbox / ("disks/disk" + std::to_string(disk));
}

void PutDiskIntoDrive(int disk) {
    std::string link = sandbox / "devices/a:";
    unlink(link.c_str());
    if (symlink(DiskFolder(disk).c_str(), link.c_str()) != 0)
        fuzz::Finding("cannot link drive A: to " + DiskFolder(disk));
}

// Lays the archive out as a spanned set the way the package builder does;
// returns the entries it made, relative to the sandbox root.
std::vector<std::string> MakeSpannedSet(const uint8_t *archive, size_t size, int disks,
                                        bool exeVolumes) {
    std::vector<std::string> entries = {"devices/a:", "disks/"};
    fuzz::MakeFolder(sandbox / "disks");
    size_t part = size / disks, at = 0;
    for (int disk = 1; disk <= disks; disk++) {
        std::string folder = DiskFolder(disk), relative = "disks/disk" + std::to_string(disk);
        fuzz::MakeFolder(folder);
        char label[16];
        snprintf(label, sizeof label, "PKBACK# %03d", disk);
        fuzz::WriteBytes(folder + "/.windows-label", (const uint8_t *)label, strlen(label));
        size_t length = disk == disks ? size - at : part;
        // Disk 1 holds the package itself, which is the first volume when
        // the volumes are named .EXE.
        if (disk == 1 && !exeVolumes) {
            fuzz::WriteBytes(folder + "/PKG.EXE", archive, 0);
            entries.push_back(relative + "/PKG.EXE");
        }
        std::string volume = exeVolumes ? "/PKG.EXE" : "/PKG.ZIP";
        fuzz::WriteBytes(folder + volume, archive + at, length);
        at += length;
        entries.push_back(relative + "/");
        entries.push_back(relative + "/.windows-label");
        entries.push_back(relative + volume);
    }
    PutDiskIntoDrive(1);
    return entries;
}

// The no-terminal user, who also changes disks when asked to.
class DiskChangingUser : public HostUser {
  public:
    DiskChangingUser() : inner_(HostMakeNoTerminalUser()) {}
    int OnMessageBox(const HostBox &box) override {
        if (disksInSet > 0) {
            char prompt[MESSAGE_BUFFER_SIZE];
            wsprintfA(prompt, MessageText(MSG_INSERT_LAST_DISK), "A:");
            if (box.text == prompt) {
                PutDiskIntoDrive(disksInSet);
                return IDOK;
            }
            for (int disk = 1; disk <= MAX_DISKS + 1; disk++) {
                wsprintfA(prompt, MessageText(MSG_INSERT_DISK), disk, "A:");
                if (box.text != prompt)
                    continue;
                if (disk > disksInSet)
                    return IDCANCEL; // the set has no such disk
                PutDiskIntoDrive(disk);
                return IDOK;
            }
        }
        return inner_->OnMessageBox(box);
    }
    bool OnDialogIdle(HWND dialog) override { return inner_->OnDialogIdle(dialog); }
    void OnPoll(unsigned long poll) override { inner_->OnPoll(poll); }

  private:
    std::unique_ptr<HostUser> inner_;
};

char *CopyToGlobalBlock(const std::string &text) {
    char *block = (char *)AllocGlobalBlock(text.size() + 1);
    if (!block)
        fuzz::Finding("no memory for the password");
    memcpy(block, text.data(), text.size());
    return block;
}

const char *PasswordFor(uint8_t settings) {
    static const std::string longest(254, 'p');
    switch ((settings & SETTING_PASSWORD) >> 1) {
    case 1:
        return "morvik";
    case 2:
        return "wrong";
    case 3:
        return longest.c_str();
    default:
        return NULL;
    }
}

int RunOnce() {
    // What the main dialog clears before every run.
    session.membersExtracted = 0;
    session.bytesDecoded = 0;
    session.meterMark = 0;
    int result = RunExtraction();
    if (result < 0 || result > 2)
        fuzz::Finding("RunExtraction returned " + std::to_string(result));
    if (session.outputFile != 0)
        fuzz::Finding("RunExtraction returned with a member file open");
    if (session.extractionActive)
        fuzz::Finding("RunExtraction returned with the extraction still marked active");
    return result;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    fuzz::MakeArtifactPathsAbsolute(argc, argv);
    sandbox.Create("morvik-fuzz-extract", {"cwd", "devices"});
    archiveFile = sandbox / "archive.zip";
    unzipRoot = sandbox / "out";
    // The host's environment: nothing of the user's own, drive A: only, no
    // injected failures.
    for (const char *name :
         {"MORVIK_ANSI_CODEPAGE", "MORVIK_WINVER_MAJOR", "MORVIK_FAIL_WRITES_AFTER",
          "MORVIK_FAIL_ALLOC", "MORVIK_SCRIPT", "MORVIK_SCRIPT_TEXT", "MORVIK_TRANSCRIPT"})
        unsetenv(name);
    setenv("MORVIK_DOSDEVICES", (sandbox / "devices").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    uint8_t settings = data[0];
    data++, size--;
    disksInSet = 0;
    if (settings & SETTING_SPANNED) {
        if (size < 1)
            return 0;
        disksInSet = data[0] % MAX_DISKS + 1;
        data++, size--;
    }
    fuzz::InFolder inFolder(sandbox / "cwd");
    int descriptors = fuzz::OpenDescriptors();
    fuzz::ResetProgramState();
    fuzz::WriteBytes(archiveFile, data, size);
    fuzz::MakeFolder(unzipRoot);
    std::vector<std::string> expected = {"archive.zip", "cwd/", "out/", "devices/"};
    if (disksInSet) {
        std::vector<std::string> set =
            MakeSpannedSet(data, size, disksInSet, (settings & SETTING_EXE_VOLUMES) != 0);
        expected.insert(expected.end(), set.begin(), set.end());
    }

    if (settings & SETTING_CODE_PAGE_932)
        HostSetAnsiCodePage(size & 1 ? 65001 : 932);
    HostFailWritesAfter(kWriteLimit);

    // The package as start-up would have found it.
    memset(&sfxHeader, 0, sizeof sfxHeader);
    static const uint8_t signature[SFX_SIGNATURE_SIZE] = {SFX_SIGNATURE_BYTES};
    memcpy(sfxHeader.signature, signature, sizeof signature);
    sfxHeader.totalSize = (uint32_t)size;
    sfxHeader.completeMarker = 0xFFFF;
    if (disksInSet) {
        sfxHeader.options |= OPT_SPANNED;
        if (settings & SETTING_EXE_VOLUMES)
            sfxHeader.options |= OPT_EXE_VOLUMES;
        lstrcpyA(packagePath, "A:\\PKG.EXE");
    } else {
        lstrcpynA(packagePath, archiveFile.c_str(), FOLDER_BUFFER_SIZE);
    }
    session.messageBuffer = (char *)AllocGlobalBlock(MESSAGE_BUFFER_SIZE);

    HostSetUser(std::make_unique<DiskChangingUser>());

    // Start-up's landing point: nothing may arrive there.
    jmp_buf landing;
    session.landingPoint = &landing;
    if (setjmp(landing) != 0)
        fuzz::Finding("a FatalExit outside the extraction (the package set-up failed?)");
    PackageSetUp();

    // What the main dialog hands over.
    std::string folder = unzipRoot;
    if (settings & SETTING_TRAILING_BACKSLASH)
        folder += "\\";
    lstrcpynA(unzipFolder, folder.c_str(), FOLDER_BUFFER_SIZE);
    overwriteWithoutPrompt = (settings & SETTING_OVERWRITE) != 0;
    if (const char *password = PasswordFor(settings))
        session.password = CopyToGlobalBlock(password);

    int result = RunOnce();
    if (result == 0 && (settings & SETTING_UNZIP_TWICE))
        RunOnce();
    if (session.landingPoint != &landing)
        fuzz::Finding("RunExtraction did not restore start-up's landing point");
    session.landingPoint = NULL;

    fuzz::ReleaseProgramState();
    if (fuzz::LiveHeapBlocks() != 0) {
        std::string blocks = fuzz::DescribeLiveHeapBlocks();
        fuzz::FreeLiveHeapBlocks();
        fuzz::Finding("the extraction left heap blocks behind:\n" + blocks);
    }
    fuzz::PrintRunWhenAsked(sandbox.root());
    fuzz::CheckNoLiveGdi();
    if (fuzz::OpenDescriptors() != descriptors)
        fuzz::Finding("the run left " + std::to_string(fuzz::OpenDescriptors() - descriptors) +
                      " file descriptor(s) open");

    sandbox.Check(expected, {"out"});
    fuzz::RemoveTree(unzipRoot);
    if (disksInSet) {
        fuzz::RemoveTree(sandbox / "disks");
        fuzz::RemoveTree(sandbox / "devices/a:");
    }
    // The host's records of this input go now: an input that frees what it
    // allocated spares libFuzzer's leak check a second run.
    fuzz::ResetProgramState();
    return 0;
}
