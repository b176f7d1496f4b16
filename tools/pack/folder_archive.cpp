#include "tools/pack/folder_archive.h"

#include "tools/pack/member_names.h"
#include "tools/pack/mend.h"

#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace pack {

namespace {

struct Found {
    std::string name; // relative, "/" between levels, "/" behind a folder
    fs::path path;
    bool folder = false;
    uint64_t size = 0;
    struct timespec modified = {};
    mode_t mode = 0;
};

std::string Describe(mode_t mode) {
    if (S_ISLNK(mode))
        return "a symbolic link";
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "a special file";
}

void Walk(const fs::path &root, const std::string &prefix, std::vector<Found> &found,
          std::vector<std::string> &problems) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(root / prefix, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    if (ec)
        throw Refusal("cannot read the folder " + (root / prefix).string() + ": " + ec.message());
    std::sort(names.begin(), names.end());
    for (const std::string &n : names) {
        Found f;
        f.name = prefix + n;
        f.path = root / f.name;
        struct stat st;
        if (lstat(f.path.c_str(), &st) != 0)
            throw Refusal("cannot read " + f.path.string() + ": " + std::strerror(errno));
        f.mode = st.st_mode;
        f.modified = st.st_mtim;
        if (S_ISDIR(st.st_mode)) {
            f.folder = true;
            f.name += '/';
            found.push_back(f);
            Walk(root, f.name, found, problems);
        } else if (S_ISREG(st.st_mode)) {
            f.size = uint64_t(st.st_size);
            found.push_back(f);
        } else {
            problems.push_back(f.path.string() + ": " + Describe(st.st_mode) +
                               "; a package holds only files and folders (replace it by a "
                               "copy of what it stands for, or move it out of the folder)");
        }
    }
}

// A modification time as a DOS date and time in local time, to the even
// second below; clamped to the range DOS times hold.
void DosTime(const struct timespec &when, uint16_t &date, uint16_t &time) {
    time_t t = when.tv_sec;
    struct tm local;
    if (!localtime_r(&t, &local) || local.tm_year < 80) {
        date = (0 << 9) | (1 << 5) | 1; // 1980-01-01 00:00:00
        time = 0;
        return;
    }
    if (local.tm_year > 207) {
        date = uint16_t((127 << 9) | (12 << 5) | 31); // 2107-12-31 23:59:58
        time = uint16_t((23 << 11) | (59 << 5) | 29);
        return;
    }
    int seconds = std::min(local.tm_sec, 59); // a leap second stays in its minute
    date = uint16_t((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
    time = uint16_t(local.tm_hour << 11 | local.tm_min << 5 | seconds / 2);
}

Bytes ReadWhole(const Found &f) {
    Bytes data(f.size);
    int fd = open(f.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw Refusal("cannot read " + f.path.string() + ": " + std::strerror(errno));
    size_t got = 0;
    while (got < data.size()) {
        ssize_t n = read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int error = errno;
            close(fd);
            throw Refusal("cannot read " + f.path.string() + ": " +
                          (n == 0 ? std::string("it shrank while being read")
                                  : std::string(std::strerror(error))));
        }
        got += size_t(n);
    }
    close(fd);
    return data;
}

// Raw DEFLATE at the best level; empty when that is not smaller.
Bytes Deflate(const Bytes &data) {
    if (data.empty())
        return {};
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw Refusal("out of memory");
    Bytes out(deflateBound(&z, uLong(data.size())));
    z.next_in = const_cast<Bytef *>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    int status = deflate(&z, Z_FINISH);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    if (status != Z_STREAM_END)
        throw Refusal("deflate failed");
    if (out.size() >= data.size())
        return {};
    return out;
}

// The fields a local header and a central entry share, from the version
// needed to the extra field's length.
void AppendSharedFields(Bytes &out, const MemberRecord &m) {
    Append16(out, m.versionNeeded);
    Append16(out, m.flags);
    Append16(out, m.method);
    Append16(out, m.time);
    Append16(out, m.date);
    Append32(out, m.crc);
    Append32(out, uint32_t(m.data.size()));
    Append32(out, m.uncompressed);
    Append16(out, uint16_t(m.name.size()));
    Append16(out, uint16_t(m.extra.size()));
}

void AppendLocal(Bytes &out, const MemberRecord &m) {
    AppendBytes(out, reinterpret_cast<const uint8_t *>(kLocalSig), 4);
    AppendSharedFields(out, m);
    AppendBytes(out, m.name);
    AppendBytes(out, m.extra.data(), m.extra.size());
    AppendBytes(out, m.data.data(), m.data.size());
}

void AppendCentral(Bytes &out, const MemberRecord &m, uint32_t localOffset) {
    AppendBytes(out, reinterpret_cast<const uint8_t *>(kCentralSig), 4);
    Append16(out, 0x0300 | 20); // made by: Unix, 2.0 (the mode in the external attributes)
    AppendSharedFields(out, m);
    Append16(out, 0); // comment
    Append16(out, 0); // disk
    Append16(out, 0); // internal attributes
    Append32(out, m.externalAttributes);
    Append32(out, localOffset);
    AppendBytes(out, m.name);
    AppendBytes(out, m.extra.data(), m.extra.size());
}

} // namespace

FolderArchive ArchiveFolder(const std::string &folder, const FolderSettings &settings) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        throw Refusal("--dir " + folder + ": not a folder");
    std::vector<Found> found;
    std::vector<std::string> problems;
    Walk(fs::path(folder), "", found, problems);

    uint64_t total = 0;
    std::set<std::string> folded; // names as Windows compares them
    for (const Found &f : found) {
        std::string key = f.name;
        for (char &c : key)
            c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
        if (!folded.insert(key).second)
            problems.push_back(f.path.string() + ": another name of this folder differs from it "
                                                 "only in letter case, which Windows does not "
                                                 "tell apart");
        if (!IsValidUtf8(f.name))
            problems.push_back(f.path.string() + ": the name is not valid UTF-8");
        else if (f.name.find('\\') != std::string::npos)
            problems.push_back(f.path.string() +
                               ": its name holds a backslash, which separates folders on Windows");
        else if (std::string problem = NameProblem(f.name, f.folder); !problem.empty())
            problems.push_back(f.path.string() + ": " + problem);
        if (f.size >= (uint64_t(1) << 32))
            problems.push_back(f.path.string() + ": a file of 4 GiB or more, which the stub "
                                                 "cannot carry");
        total += f.size;
    }
    if (found.size() > 0xFFFF)
        problems.push_back(folder + ": " + std::to_string(found.size()) +
                           " files and folders; an archive the stub reads holds at most 65535");
    if (total > UINT32_MAX)
        problems.push_back(folder + ": the files add up to " + std::to_string(total) +
                           " bytes; the stub counts at most 4 GiB - 1 in all");
    if (!problems.empty()) {
        std::string text;
        for (const std::string &p : problems)
            text += (text.empty() ? "" : "\n") + p;
        throw Refusal(text);
    }

    FolderArchive result;
    Bytes central;
    uint64_t done = 0;
    for (const Found &f : found) {
        MemberRecord m;
        m.name = f.name;
        m.flags = HasNonAscii(f.name) ? kFlagUtf8 : 0;
        DosTime(f.modified, m.date, m.time);
        m.externalAttributes = uint32_t(f.mode & 0xFFFF) << 16 | (f.folder ? 0x10 : 0);
        if (f.folder) {
            result.folders++;
        } else {
            Bytes data = ReadWhole(f);
            m.crc = Crc32(0, data.data(), data.size());
            m.uncompressed = uint32_t(data.size());
            Bytes deflated = Deflate(data);
            if (!deflated.empty()) {
                m.method = kMethodDeflated;
                m.data.swap(deflated);
            } else {
                m.method = kMethodStored;
                m.data.swap(data);
                result.stored += m.uncompressed > 0;
            }
            EncryptMember(settings.encryption, settings.password, m);
            result.files++;
            done += f.size;
        }
        const uint64_t localOffset = result.archive.size();
        if (localOffset + 30 + m.name.size() + m.data.size() > UINT32_MAX)
            throw Refusal("the archive would be 4 GiB or more");
        AppendLocal(result.archive, m);
        AppendCentral(central, m, uint32_t(localOffset));
        result.names.push_back(m.name);
        if (settings.progress)
            settings.progress(done, total);
    }
    const uint64_t cdOffset = result.archive.size();
    if (cdOffset + central.size() + kEndRecordSize > UINT32_MAX)
        throw Refusal("the archive would be 4 GiB or more");
    AppendBytes(result.archive, central.data(), central.size());
    result.endRecord = uint32_t(result.archive.size());
    Bytes &out = result.archive;
    AppendBytes(out, reinterpret_cast<const uint8_t *>(kEndSig), 4);
    Append16(out, 0);
    Append16(out, 0);
    Append16(out, uint16_t(found.size()));
    Append16(out, uint16_t(found.size()));
    Append32(out, uint32_t(central.size()));
    Append32(out, uint32_t(cdOffset));
    Append16(out, 0);
    result.totalSize = uint32_t(total);
    return result;
}

} // namespace pack
