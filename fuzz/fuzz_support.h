// What the fuzz targets share: a private folder tree for the files a run
// makes, the program's state put back between inputs, the accounting of the
// heap blocks and file descriptors an input leaves behind, and the way a
// target reports what it finds.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace fuzz {

// Reports a finding through the sanitizers' report channel (it survives
// -close_fd_mask=2) and aborts, so that libFuzzer saves the input.
[[noreturn]] void Finding(const std::string &what);

// ---- files and folders ----------------------------------------------------------

void WriteBytes(const std::string &path, const uint8_t *data, size_t size);
void MakeFolder(const std::string &path);
void RemoveTree(const std::string &path); // the path itself too; symbolic links are not followed
void EmptyFolder(const std::string &path);
// Every entry below root as a path relative to it, folders with a trailing
// "/", sorted; symbolic links are listed, not followed.
std::vector<std::string> ListTree(const std::string &root);

// A private folder tree under $TMPDIR (or /tmp), removed when the process
// exits normally. Its working folder `root` lies two empty folders below the
// top, so that a file that escapes with "..", even twice, still lands inside
// the tree where Check() sees it.
class Sandbox {
  public:
    // Makes the tree; `folders` are made below root.
    void Create(const char *name, const std::vector<std::string> &folders);
    const std::string &root() const { return root_; }
    std::string operator/(const std::string &name) const { return root_ + "/" + name; }
    // The whole tree must hold exactly the two levels above root, root's
    // `fixed` entries (relative paths as ListTree gives them) and anything
    // below the folders in `open` (names of folders directly below root).
    // Anything else is a finding.
    void Check(const std::vector<std::string> &fixed, const std::vector<std::string> &open) const;

  private:
    std::string top_, root_;
};

// Makes the current folder `path` for the life of the object. A target
// enters its folder only while it runs an input, so that libFuzzer's own
// relative paths (corpus folders, dictionary) keep their meaning.
class InFolder {
  public:
    explicit InFolder(const std::string &path);
    ~InFolder();
    InFolder(const InFolder &) = delete;
    InFolder &operator=(const InFolder &) = delete;

  private:
    int previous_;
};

// For LLVMFuzzerInitialize: libFuzzer writes a crash, timeout or leak
// artifact while the input runs, that is inside the target's folder; this
// makes -artifact_prefix and -exact_artifact_path absolute (adding
// -artifact_prefix=<current folder>/ when there is none), so that artifacts
// land where they would without the folder change.
void MakeArtifactPathsAbsolute(int *argc, char ***argv);

// ---- the program's state -----------------------------------------------------------

// Puts back what the Parts and the host layer keep between runs: the
// extraction session, the start-up globals, the host's settings and its
// windows, classes, timers, queue, records and user (the no-terminal user).
void ResetProgramState();

// Releases what start-up releases at its end, also where an early end of
// start-up skipped that release (the program would have ended there): the
// files of the session, the extraction buffers, the blocks of start-up and
// the message table, the start-up message and the password.
void ReleaseProgramState();

// With MORVIK_FUZZ_TRANSCRIPT set in the environment, prints the host's
// transcript of the run (boxes, dialogs, buttons) and what the run left in
// `folder` to stderr. For reproducing a finding by hand.
void PrintRunWhenAsked(const std::string &folder);

// ---- heap blocks and file descriptors -------------------------------------------------

// The blocks of the global and local heaps that are allocated and not freed.
size_t LiveHeapBlocks();
// Describes them (size, heap, where they were allocated), one per line.
std::string DescribeLiveHeapBlocks();
// Frees them all.
void FreeLiveHeapBlocks();

// The number of open file descriptors of the process.
int OpenDescriptors();

// Live GDI objects and device contexts of the host; both must be 0 after a run.
void CheckNoLiveGdi();

} // namespace fuzz
