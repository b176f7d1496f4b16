// What the fuzz targets share; see fuzz_support.h.
#include "fuzz/fuzz_support.h"

#include "extract/extract.h"
#include "posix/host.h"
#include "posix/window_host.h"
#include "startup/startup.h"
#include "ui/ui.h"

#include <dirent.h>
#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

// The sanitizers' runtime, when one is linked in (the coverage build has none).
extern "C" {
__attribute__((weak)) void __sanitizer_report_error_summary(const char *summary);
__attribute__((weak)) void __sanitizer_symbolize_pc(void *pc, const char *format, char *out,
                                                    size_t size);
}

namespace fuzz {

void Finding(const std::string &what) {
    std::string text = "morvik-fuzz: FINDING: " + what;
    if (__sanitizer_report_error_summary)
        __sanitizer_report_error_summary(text.c_str());
    else
        fprintf(stderr, "%s\n", text.c_str());
    abort();
}

// ---- files and folders ----------------------------------------------------------

void WriteBytes(const std::string &path, const uint8_t *data, size_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        Finding("cannot write " + path + ": " + strerror(errno));
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Finding("cannot write " + path + ": " + strerror(errno));
        done += (size_t)n;
    }
    close(fd);
}

void MakeFolder(const std::string &path) {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        Finding("cannot make the folder " + path + ": " + strerror(errno));
}

void EmptyFolder(const std::string &path) {
    DIR *dir = opendir(path.c_str());
    if (!dir)
        return;
    std::vector<std::string> names;
    while (struct dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    for (const std::string &name : names)
        RemoveTree(path + "/" + name);
}

void RemoveTree(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        // A folder the run made without write permission still goes.
        if ((st.st_mode & 0700) != 0700)
            chmod(path.c_str(), 0700);
        EmptyFolder(path);
        if (rmdir(path.c_str()) != 0)
            Finding("cannot remove the folder " + path + ": " + strerror(errno));
    } else if (unlink(path.c_str()) != 0) {
        Finding("cannot remove " + path + ": " + strerror(errno));
    }
}

static void ListInto(const std::string &root, const std::string &prefix,
                     std::vector<std::string> *out) {
    DIR *dir = opendir((root + "/" + prefix).c_str());
    if (!dir)
        return;
    std::vector<std::string> names;
    while (struct dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    for (const std::string &name : names) {
        std::string relative = prefix + name;
        struct stat st;
        if (lstat((root + "/" + relative).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            out->push_back(relative + "/");
            ListInto(root, relative + "/", out);
        } else {
            out->push_back(relative);
        }
    }
}

std::vector<std::string> ListTree(const std::string &root) {
    std::vector<std::string> entries;
    ListInto(root, "", &entries);
    std::sort(entries.begin(), entries.end());
    return entries;
}

InFolder::InFolder(const std::string &path) {
    previous_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (previous_ < 0 || chdir(path.c_str()) != 0)
        Finding("cannot enter " + path + ": " + strerror(errno));
}

InFolder::~InFolder() {
    if (fchdir(previous_) != 0)
        Finding(std::string("cannot go back to the previous folder: ") + strerror(errno));
    close(previous_);
}

void MakeArtifactPathsAbsolute(int *argc, char ***argv) {
    static std::vector<std::string> args;
    static std::vector<char *> pointers;
    char *here = getcwd(nullptr, 0);
    std::string cwd = here ? here : ".";
    free(here);
    bool prefixGiven = false;
    for (int i = 0; i < *argc; i++) {
        std::string arg = (*argv)[i];
        for (const char *flag : {"-artifact_prefix=", "-exact_artifact_path="}) {
            size_t length = strlen(flag);
            if (arg.compare(0, length, flag) != 0)
                continue;
            if (arg[length] != '/')
                arg = flag + cwd + "/" + arg.substr(length);
            if (flag[1] == 'a')
                prefixGiven = true;
        }
        args.push_back(arg);
    }
    if (!prefixGiven)
        args.push_back("-artifact_prefix=" + cwd + "/");
    for (std::string &arg : args)
        pointers.push_back(&arg[0]);
    pointers.push_back(nullptr);
    *argc = (int)args.size();
    *argv = pointers.data();
}

static std::vector<std::string> sandboxTops;

static void RemoveSandboxes() {
    for (const std::string &top : sandboxTops)
        RemoveTree(top);
}

void Sandbox::Create(const char *name, const std::vector<std::string> &folders) {
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (!mkdtemp(buffer.data()))
        Finding("cannot make a folder for " + pattern + ": " + strerror(errno));
    char *real = realpath(buffer.data(), nullptr);
    top_ = real ? real : buffer.data();
    free(real);
    MakeFolder(top_ + "/up");
    root_ = top_ + "/up/root";
    MakeFolder(root_);
    for (const std::string &folder : folders)
        MakeFolder(root_ + "/" + folder);
    if (sandboxTops.empty())
        atexit(RemoveSandboxes);
    sandboxTops.push_back(top_);
}

void Sandbox::Check(const std::vector<std::string> &fixed,
                    const std::vector<std::string> &open) const {
    std::vector<std::string> unexpected;
    for (const std::string &entry : ListTree(top_)) {
        if (entry == "up/" || entry == "up/root/")
            continue;
        const std::string rootPrefix = "up/root/";
        if (entry.compare(0, rootPrefix.size(), rootPrefix) != 0) {
            unexpected.push_back(entry);
            continue;
        }
        std::string relative = entry.substr(rootPrefix.size());
        bool allowed = std::find(fixed.begin(), fixed.end(), relative) != fixed.end();
        for (const std::string &folder : open)
            if (relative.compare(0, folder.size() + 1, folder + "/") == 0)
                allowed = true;
        if (!allowed)
            unexpected.push_back(entry);
    }
    for (const std::string &entry : fixed) {
        struct stat st;
        if (lstat((root_ + "/" + entry).c_str(), &st) != 0)
            unexpected.push_back("(missing) up/root/" + entry);
    }
    if (unexpected.empty())
        return;
    std::string text =
        "the run changed the file system outside the folders it may write to (" + top_ + "):";
    for (const std::string &entry : unexpected)
        text += "\n  " + entry;
    Finding(text);
}

// ---- heap blocks ------------------------------------------------------------------
//
// The host keeps every block of the global and local heaps in a table of its
// own, so a block that the program loses is still reachable and LeakSanitizer
// never reports it. The linker routes the calls of the Parts and the host
// into the two heaps through the functions below (--wrap, see CMakeLists.txt),
// which keep the table of live blocks that the targets check after every
// input.

namespace {

enum { TRACE_DEPTH = 12 };

struct LiveBlock {
    bool global;
    size_t bytes;
    int depth;
    void *trace[TRACE_DEPTH];
};

std::map<void *, LiveBlock> &LiveBlocks() {
    static std::map<void *, LiveBlock> blocks;
    return blocks;
}

void Remember(void *block, bool global, size_t bytes) {
    if (!block)
        return;
    LiveBlock &live = LiveBlocks()[block];
    live.global = global;
    live.bytes = bytes;
    live.depth = backtrace(live.trace, TRACE_DEPTH);
}

} // namespace

} // namespace fuzz

extern "C" {
HGLOBAL __real__Z11GlobalAllocjm(UINT flags, size_t bytes);
HGLOBAL __real__Z10GlobalFreePv(HGLOBAL memory);
HLOCAL __real__Z10LocalAllocjm(UINT flags, size_t bytes);
HLOCAL __real__Z9LocalFreePv(HLOCAL memory);

HGLOBAL __wrap__Z11GlobalAllocjm(UINT flags, size_t bytes) {
    HGLOBAL block = __real__Z11GlobalAllocjm(flags, bytes);
    fuzz::Remember(block, true, bytes);
    return block;
}

HGLOBAL __wrap__Z10GlobalFreePv(HGLOBAL memory) {
    HGLOBAL result = __real__Z10GlobalFreePv(memory);
    if (memory && !result)
        fuzz::LiveBlocks().erase(memory);
    return result;
}

HLOCAL __wrap__Z10LocalAllocjm(UINT flags, size_t bytes) {
    HLOCAL block = __real__Z10LocalAllocjm(flags, bytes);
    fuzz::Remember(block, false, bytes);
    return block;
}

HLOCAL __wrap__Z9LocalFreePv(HLOCAL memory) {
    HLOCAL result = __real__Z9LocalFreePv(memory);
    if (memory && !result)
        fuzz::LiveBlocks().erase(memory);
    return result;
}
}

namespace fuzz {

size_t LiveHeapBlocks() {
    return LiveBlocks().size();
}

std::string DescribeLiveHeapBlocks() {
    std::string text;
    for (const auto &[address, live] : LiveBlocks()) {
        char line[128];
        snprintf(line, sizeof line, "%zu bytes of the %s heap at %p, allocated\n", live.bytes,
                 live.global ? "global" : "local", address);
        text += line;
        // The trace starts in backtrace (the sanitizer's interceptor of it),
        // Remember and the heap call's wrapper.
        int first = 0;
        while (first < live.depth && __sanitizer_symbolize_pc) {
            char name[256] = "";
            __sanitizer_symbolize_pc(live.trace[first], "%f", name, sizeof name);
            if (!strstr(name, "backtrace") && !strstr(name, "Remember") && !strstr(name, "__wrap_"))
                break;
            first++;
        }
        for (int i = first; i < live.depth; i++) {
            char frame[512];
            int length = snprintf(frame, sizeof frame, "    #%d ", i - first);
            snprintf(frame + length, sizeof frame - length, "%p", live.trace[i]);
            if (__sanitizer_symbolize_pc)
                __sanitizer_symbolize_pc(live.trace[i], "%p %F %L", frame + length,
                                         sizeof frame - length);
            text += frame;
            text += "\n";
        }
    }
    return text;
}

void FreeLiveHeapBlocks() {
    std::map<void *, LiveBlock> blocks;
    blocks.swap(LiveBlocks());
    for (const auto &[address, live] : blocks) {
        if (live.global)
            __real__Z10GlobalFreePv(address);
        else
            __real__Z9LocalFreePv(address);
    }
}

int OpenDescriptors() {
    DIR *dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (struct dirent *entry = readdir(dir))
        if (entry->d_name[0] != '.')
            count++;
    closedir(dir);
    return count - 1; // the one opendir holds
}

void CheckNoLiveGdi() {
    int objects = HostLiveGdiObjects();
    int contexts = HostLiveDcs();
    if (objects != 0 || contexts != 0)
        Finding("the run left " + std::to_string(objects) + " GDI object(s) and " +
                std::to_string(contexts) + " device context(s) behind");
}

void PrintRunWhenAsked(const std::string &folder) {
    if (!getenv("MORVIK_FUZZ_TRANSCRIPT"))
        return;
    fprintf(stderr, "---- transcript\n");
    for (const std::string &line : HostTranscript())
        fprintf(stderr, "%s\n", line.c_str());
    fprintf(stderr, "---- %s\n", folder.c_str());
    for (const std::string &entry : ListTree(folder))
        fprintf(stderr, "%s\n", entry.c_str());
    fprintf(stderr, "----\n");
}

// ---- the program's state -----------------------------------------------------------

void ResetProgramState() {
    HostReset();
    HostUiReset();
    ResetExtractSession();
    memset(packagePath, 0, sizeof packagePath);
    customTitle = NULL;
    infoText = NULL;
    startupMessage = NULL;
    afterUnzipCommand = NULL;
    afterUnzipParameters = NULL;
    newShell = FALSE;
    autoMode = FALSE;
    instance = NULL;
    memset(&shellProcs, 0, sizeof shellProcs);
    messageTable = NULL;
    memoryTargetOverflow = FALSE;
}

void ReleaseProgramState() {
    ReleaseAes();
    if (session.outputFile) {
        _lclose(session.outputFile);
        session.outputFile = 0;
    }
    if (session.archiveFile) {
        _lclose(session.archiveFile);
        session.archiveFile = 0;
    }
    LocalFree(session.window);
    LocalFree(session.inputBuffer);
    LocalFree(session.outputBuffer);
    session.window = session.inputBuffer = session.outputBuffer = NULL;
    char **blocks[] = {&customTitle,          &infoText,       &afterUnzipCommand,
                       &afterUnzipParameters, &startupMessage, &session.messageBuffer,
                       &session.password};
    for (char **block : blocks) {
        FreeGlobalBlock(*block);
        *block = NULL;
    }
    FreeGlobalBlock(messageTable);
    messageTable = NULL;
    if (shellProcs.library)
        FreeLibrary(shellProcs.library);
    memset(&shellProcs, 0, sizeof shellProcs);
}

} // namespace fuzz
