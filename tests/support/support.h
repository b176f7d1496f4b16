// Helpers shared by the native tests: temporary folders, running programs
// (the real stub, our package builder, real archivers) as processes, and
// comparing extracted trees.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

namespace test {

struct ProcessResult {
    int exitCode = -1; // the exit status, or 128 + signal
    std::string out;
    std::string err;
};

using Environment = std::map<std::string, std::string>;

// A fresh, empty folder under the build tree, removed by nobody (the build
// tree is throw-away); each call gives a new one.
std::string TempDir(const std::string &hint = "t");

// A fresh, empty folder at a short path of fixed length ("/tmp/mvk-XXXXXX",
// 15 characters), wherever the checkout lies: for tests whose paths must have
// an exact length. The caller removes it.
std::string ShortTempDir();

// Runs argv[0] (searched in PATH when it has no slash) with stdin from
// /dev/null, the current environment overlaid with `env` (an empty value
// removes the variable), in `cwd` when given; waits at most `timeoutSeconds`.
ProcessResult Run(const std::vector<std::string> &argv, const Environment &env = {},
                  const std::string &cwd = "", int timeoutSeconds = 120);

// Runs a shell command line (/bin/sh -c) and fails the test when it exits
// non-zero; returns its standard output.
std::string Shell(const std::string &command, const std::string &cwd = "");

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &bytes);
bool Exists(const std::string &path);
void MakeDirs(const std::string &path);
long long ModifiedTime(const std::string &path); // seconds since the epoch

// Relative path -> content ("/" after a folder's name) of every entry below root.
std::map<std::string, std::string> ListTree(const std::string &root);

// Puts the tree at `from` into a new archive `zip` with `command`, run in
// `from`: e.g. "zip -q -r -9 {zip} ." or "7z a -tzip {zip} ."; {zip} is
// replaced by the archive's path.
void MakeArchive(const std::string &command, const std::string &from, const std::string &zip);

// Builds a package with our builder from the native stub (or `stub`).
ProcessResult Pack(const std::string &zip, const std::string &out,
                   const std::vector<std::string> &options = {}, const std::string &stub = "");
void PackOrFail(const std::string &zip, const std::string &out,
                const std::vector<std::string> &options = {}, const std::string &stub = "");

// What a run of the stub left behind.
struct StubRun {
    ProcessResult process;
    std::string transcript; // the scripted user's record of boxes and steps
};

// Runs the native stub `package` with `args` under the scripted user `script`
// (see platform/posix/window_host.h for the language) and the given extra
// environment. The environment is made hermetic: HOME, TMP, TEMP, registry
// and Windows folder point into a fresh folder unless `env` sets them.
StubRun RunStub(const std::string &package, const std::vector<std::string> &args,
                const std::string &script, const Environment &env = {});

// A message box as the scripted user's transcript records it, with the
// button that answered it ("" while unanswered).
struct TranscriptBox {
    std::string caption, text, owner, answer;
    unsigned type = 0;
};
// Every message box of a run, in order.
std::vector<TranscriptBox> TranscriptBoxes(const std::string &transcript);

// The ANSI code page the stub runs in during this test: MORVIK_ANSI_CODEPAGE
// (CTest runs the name and text tests under 1252 and 65001), else 1252.
unsigned AnsiCodePage();
// Bytes read in code page 1252 (its five undefined bytes standing for the C1
// controls of the same value), as UTF-8: how the stored bytes of a name look
// on the native host when the stub keeps them under 1252.
std::string Cp1252ToUtf8(const std::string &bytes);
// UTF-8 text in the stub's ANSI code page, as a user's typing or a box's
// text reaches it: as it is under 65001; under 1252 every character 1252
// lacks becomes '?'.
std::string InAnsi(const std::string &utf8);

// A second process that does `hold` (opens a file, say), reports whether it
// worked (the test fails when not) and then waits, keeping what it opened,
// until the object goes.
class OtherProcess {
  public:
    OtherProcess(const std::function<bool()> &hold, const std::string &what);
    ~OtherProcess();
    OtherProcess(const OtherProcess &) = delete;
    OtherProcess &operator=(const OtherProcess &) = delete;

  private:
    pid_t pid_ = -1;
};

const char *StubPath();
const char *PackPath();
std::string SourceDir();

} // namespace test
