#include "tests/support/support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>

extern char **environ;

namespace test {

const char *StubPath() {
    return MORVIK_SFX_PATH;
}
const char *PackPath() {
    return MORVIK_PACK_PATH;
}
std::string SourceDir() {
    return MORVIK_SOURCE_DIR;
}

void MakeDirs(const std::string &path) {
    std::string partial;
    std::stringstream parts(path);
    std::string part;
    if (!path.empty() && path[0] == '/')
        partial = "/";
    while (std::getline(parts, part, '/')) {
        if (part.empty())
            continue;
        partial += part + "/";
        mkdir(partial.c_str(), 0755);
    }
}

std::string TempDir(const std::string &hint) {
    static std::atomic<int> counter{0};
    std::string base = MORVIK_TEST_TMP;
    MakeDirs(base);
    std::string pattern = base + "/" + hint + "-" + std::to_string(getpid()) + "-" +
                          std::to_string(counter++) + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (!mkdtemp(buffer.data()))
        ADD_FAILURE() << "mkdtemp failed: " << strerror(errno);
    return buffer.data();
}

OtherProcess::OtherProcess(const std::function<bool()> &hold, const std::string &what) {
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    pid_ = fork();
    if (pid_ == 0) {
        close(ready[0]);
        char answer = hold() ? 'y' : 'n';
        if (write(ready[1], &answer, 1) != 1)
            _exit(1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char answer = 0;
    EXPECT_EQ(read(ready[0], &answer, 1), 1);
    EXPECT_EQ(answer, 'y') << "the other process could not " << what;
    close(ready[0]);
}

OtherProcess::~OtherProcess() {
    kill(pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
}

std::string ShortTempDir() {
    char pattern[] = "/tmp/mvk-XXXXXX";
    if (!mkdtemp(pattern))
        ADD_FAILURE() << "mkdtemp failed: " << strerror(errno);
    return pattern;
}

static std::string Drain(int fd) {
    std::string text;
    char chunk[65536];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, (size_t)n);
    return text;
}

ProcessResult Run(const std::vector<std::string> &argv, const Environment &env,
                  const std::string &cwd, int timeoutSeconds) {
    ProcessResult result;
    std::string outPath = TempDir("run") + "/out", errPath = outPath + ".err";
    pid_t child = fork();
    if (child == 0) {
        for (const auto &[name, value] : env) {
            if (value.empty())
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), value.c_str(), 1);
        }
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char *> args;
        for (const auto &arg : argv)
            args.push_back(const_cast<char *>(arg.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    time_t deadline = time(nullptr) + timeoutSeconds;
    for (;;) {
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            break;
        if (time(nullptr) > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            ADD_FAILURE() << "timed out: " << argv[0];
            break;
        }
        usleep(2000);
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    int out = open(outPath.c_str(), O_RDONLY), err = open(errPath.c_str(), O_RDONLY);
    result.out = Drain(out);
    result.err = Drain(err);
    close(out);
    close(err);
    return result;
}

std::string Shell(const std::string &command, const std::string &cwd) {
    ProcessResult r = Run({"/bin/sh", "-c", command}, {}, cwd);
    EXPECT_EQ(r.exitCode, 0) << command << "\n" << r.err;
    return r.out;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void WriteFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
}

bool Exists(const std::string &path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

long long ModifiedTime(const std::string &path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return -1;
    return (long long)info.st_mtime;
}

static void Walk(const std::string &root, const std::string &relative,
                 std::map<std::string, std::string> &tree) {
    std::string path = relative.empty() ? root : root + "/" + relative;
    DIR *dir = opendir(path.c_str());
    if (!dir)
        return;
    while (dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string child = relative.empty() ? name : relative + "/" + name;
        struct stat info;
        lstat((root + "/" + child).c_str(), &info);
        if (S_ISDIR(info.st_mode)) {
            tree[child + "/"] = "";
            Walk(root, child, tree);
        } else if (S_ISLNK(info.st_mode)) {
            // A link is listed with its target, never followed.
            char target[4096];
            ssize_t n = readlink((root + "/" + child).c_str(), target, sizeof target);
            tree[child] = "-> " + std::string(target, n > 0 ? size_t(n) : 0);
        } else {
            tree[child] = ReadFile(root + "/" + child);
        }
    }
    closedir(dir);
}

std::map<std::string, std::string> ListTree(const std::string &root) {
    std::map<std::string, std::string> tree;
    Walk(root, "", tree);
    return tree;
}

void MakeArchive(const std::string &command, const std::string &from, const std::string &zip) {
    std::string line = command;
    size_t at = line.find("{zip}");
    if (at != std::string::npos)
        line.replace(at, 5, "'" + zip + "'");
    Shell(line, from);
}

ProcessResult Pack(const std::string &zip, const std::string &out,
                   const std::vector<std::string> &options, const std::string &stub) {
    std::vector<std::string> argv = {
        PackPath(), "--stub", stub.empty() ? StubPath() : stub, "--zip", zip, "--out", out};
    argv.insert(argv.end(), options.begin(), options.end());
    return Run(argv);
}

void PackOrFail(const std::string &zip, const std::string &out,
                const std::vector<std::string> &options, const std::string &stub) {
    ProcessResult r = Pack(zip, out, options, stub);
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

StubRun RunStub(const std::string &package, const std::vector<std::string> &args,
                const std::string &script, const Environment &env) {
    std::string home = TempDir("home");
    std::string scriptPath = home + "/script.txt";
    std::string transcriptPath = home + "/transcript.txt";
    WriteFile(scriptPath, script);
    Environment full = {{"HOME", home},
                        {"TMP", ""},
                        {"TEMP", ""},
                        {"MORVIK_REGISTRY", home + "/registry.txt"},
                        {"MORVIK_WINDIR", home + "/windows"},
                        {"MORVIK_SCRIPT", scriptPath},
                        {"MORVIK_SCRIPT_TEXT", ""},
                        {"MORVIK_SHELL32", ""},
                        {"MORVIK_NOW", ""},
                        {"MORVIK_TRANSCRIPT", transcriptPath}};
    for (const auto &[name, value] : env)
        full[name] = value;
    std::vector<std::string> argv = {package};
    argv.insert(argv.end(), args.begin(), args.end());
    StubRun run;
    run.process = Run(argv, full);
    run.transcript = ReadFile(transcriptPath);
    return run;
}

// Reads a string quoted by the transcript ("...", with \n \r \t \" \\) at `pos`.
static std::string Unquote(const std::string &line, size_t &pos) {
    std::string out;
    if (pos >= line.size() || line[pos] != '"')
        return out;
    for (++pos; pos < line.size() && line[pos] != '"'; ++pos) {
        char c = line[pos];
        if (c == '\\' && pos + 1 < line.size()) {
            char e = line[++pos];
            c = e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
        }
        out += c;
    }
    ++pos;
    return out;
}

std::vector<TranscriptBox> TranscriptBoxes(const std::string &transcript) {
    std::vector<TranscriptBox> boxes;
    size_t start = 0;
    while (start < transcript.size()) {
        size_t end = transcript.find('\n', start);
        if (end == std::string::npos)
            end = transcript.size();
        std::string line = transcript.substr(start, end - start);
        start = end + 1;
        if (line.compare(0, 4, "box ") != 0)
            continue;
        size_t at = line.find(" shown: caption ");
        if (at != std::string::npos) {
            TranscriptBox box;
            size_t pos = at + 16;
            box.caption = Unquote(line, pos);
            pos += 6; // " text "
            box.text = Unquote(line, pos);
            pos += 6; // " type "
            box.type = (unsigned)std::stoul(line.substr(pos), nullptr, 16);
            size_t owner = line.find("] owner ", pos);
            if (owner != std::string::npos)
                box.owner = line.substr(owner + 8);
            boxes.push_back(box);
            continue;
        }
        at = line.find(" answered ");
        if (at != std::string::npos && !boxes.empty())
            boxes.back().answer = line.substr(at + 10);
    }
    return boxes;
}

} // namespace test

namespace test {

unsigned AnsiCodePage() {
    const char *value = getenv("MORVIK_ANSI_CODEPAGE");
    return value && std::string(value) == "65001" ? 65001 : 1252;
}

namespace {

// Code page 1252 from 0x80 to 0x9F; the other bytes are Latin-1.
const unsigned kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

unsigned Cp1252Char(unsigned char b) {
    return b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b;
}

void AppendUtf8(std::string &out, unsigned c) {
    if (c < 0x80) {
        out += (char)c;
    } else if (c < 0x800) {
        out += (char)(0xC0 | c >> 6);
        out += (char)(0x80 | (c & 0x3F));
    } else {
        out += (char)(0xE0 | c >> 12);
        out += (char)(0x80 | (c >> 6 & 0x3F));
        out += (char)(0x80 | (c & 0x3F));
    }
}

} // namespace

std::string Cp1252ToUtf8(const std::string &bytes) {
    std::string out;
    for (unsigned char b : bytes)
        AppendUtf8(out, Cp1252Char(b));
    return out;
}

std::string InAnsi(const std::string &utf8) {
    if (AnsiCodePage() == 65001)
        return utf8;
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char lead = (unsigned char)utf8[i];
        size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        unsigned c = n == 1 ? lead : n == 2 ? lead & 0x1F : n == 3 ? lead & 0x0F : lead & 0x07;
        for (size_t k = 1; k < n && i + k < utf8.size(); k++)
            c = c << 6 | ((unsigned char)utf8[i + k] & 0x3F);
        char byte = '?';
        for (unsigned b = 0; b < 256; b++)
            if (Cp1252Char((unsigned char)b) == c)
                byte = (char)b;
        out += byte;
        i += n;
    }
    return out;
}

} // namespace test
