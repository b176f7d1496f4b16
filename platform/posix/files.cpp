// Whole-file handles, folder look-ups and the current and Windows folders on
// the native host.
//
// An HFILE is the file descriptor plus one, so a valid handle is never 0
// (the stub's "no file") nor HFILE_ERROR. Only descriptors opened here count
// as handles; any other value is refused like an invalid handle on Windows.
#include "posix/host.h"
#include "posix/host_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <vector>

namespace host {
namespace {

std::set<int> openFiles;
thread_local DWORD lastError = NO_ERROR;

// Read-ahead of handles opened for reading only. The program reads its
// package a record at a time and member data in blocks of 2048 bytes; one
// system call per 64 KiB serves them from here. What the program reads, and
// where _llseek says it stands, are exactly as without it.
enum { kReadAhead = 64 * 1024, kMaxReadAhead = 64 };
struct ReadAhead {
    int fd = -1; // the descriptor it belongs to; -1 when free
    char *data = nullptr;
    size_t pos = 0; // unread bytes are [pos, len)
    size_t len = 0;
    off_t end = 0; // the descriptor's own offset: just past data[len - 1]
};
ReadAhead readAheads[kMaxReadAhead];

ReadAhead *ReadAheadOf(int fd) {
    for (ReadAhead &r : readAheads)
        if (r.fd == fd)
            return &r;
    return nullptr;
}

void StartReadAhead(int fd) {
    for (ReadAhead &r : readAheads) {
        if (r.fd != -1)
            continue;
        if (!r.data && !(r.data = static_cast<char *>(malloc(kReadAhead))))
            return; // no memory: plain reads
        r.fd = fd;
        r.pos = r.len = 0;
        r.end = 0; // a file is opened at its start
        return;
    }
}

void EndReadAhead(int fd) {
    if (ReadAhead *r = ReadAheadOf(fd))
        r->fd = -1;
}

// Write-behind of handles opened for writing. The program writes its output
// in blocks of 2048 bytes; they are gathered here and go to the file 64 KiB
// at a time. Whatever touches the file other than a write (a read, a seek, a
// time stamp, the close) sends what is gathered first, so the file looks
// exactly as if every write had gone straight through. A failure to send is
// never lost: it fails the write that sent, or else it stays with the handle
// and _lclose reports it.
enum { kWriteBehind = 64 * 1024, kMaxWriteBehind = 64 };
struct WriteBehind {
    int fd = -1; // the descriptor it belongs to; -1 when free
    char *data = nullptr;
    size_t len = 0;      // bytes gathered and not yet sent
    bool failed = false; // a send failed since the handle was opened
};
WriteBehind writeBehinds[kMaxWriteBehind];

WriteBehind *WriteBehindOf(int fd) {
    for (WriteBehind &w : writeBehinds)
        if (w.fd == fd)
            return &w;
    return nullptr;
}

void StartWriteBehind(int fd) {
    for (WriteBehind &w : writeBehinds) {
        if (w.fd != -1)
            continue;
        if (!w.data && !(w.data = static_cast<char *>(malloc(kWriteBehind))))
            return; // no memory: plain writes
        w.fd = fd;
        w.len = 0;
        w.failed = false;
        return;
    }
}

// Writes `count` bytes to the descriptor; returns how many went.
size_t WriteAll(int fd, const char *from, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = write(fd, from + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

// Sends what the handle has gathered; false when any of it could not go.
bool SendGathered(WriteBehind *w) {
    if (!w)
        return true;
    if (w->len > 0) {
        if (WriteAll(w->fd, w->data, w->len) != w->len)
            w->failed = true;
        w->len = 0;
    }
    return !w->failed;
}

void EndWriteBehind(int fd) {
    if (WriteBehind *w = WriteBehindOf(fd))
        w->fd = -1;
}

// The simulated full disk of MORVIK_FAIL_WRITES_AFTER / HostFailWritesAfter.
bool writeLimitLoaded = false;
long long writeLimit = -1; // bytes that may still be written in total; -1: no limit
long long bytesWritten = 0;

void LoadWriteLimit() {
    if (writeLimitLoaded)
        return;
    writeLimitLoaded = true;
    bytesWritten = 0;
    writeLimit = -1;
    const char *value = getenv("MORVIK_FAIL_WRITES_AFTER");
    if (value && *value) {
        char *end = nullptr;
        long long n = strtoll(value, &end, 10);
        if (*end == '\0' && n >= 0)
            writeLimit = n;
    }
}

// Share modes. Windows refuses an open that the share modes of the file's
// other opens do not allow; the stub opens its package and volumes denying
// writers (OF_SHARE_DENY_WRITE) and creates its output files sharing
// everything. Two parts stand in for this here:
// - a writer of any program is seen through a read lease: Linux refuses one
//   (EAGAIN) while any descriptor has the file open for writing, in this
//   process or another, so an open that denies writers fails while one is
//   there, as on Windows;
// - an open that denies writers holds a shared lock on one byte far past any
//   end (an open-file-description lock, so it counts between descriptors of
//   one process too); an open for writing of this layer that finds that byte
//   locked fails. Programs other than this layer are not stopped by it.
// Where leases are not to be had (a file of another user, a file system
// without them), writers of this layer are still seen by a second such byte
// that every open for writing locks.
// A refused open fails with ERROR_SHARING_VIOLATION.
const off_t kDenyWriteByte = INT64_MAX - 1;
const off_t kWriterByte = INT64_MAX - 2;

bool LockByte(int fd, off_t at) {
    struct flock lock;
    memset(&lock, 0, sizeof lock);
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = at;
    lock.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// True when another open file description holds the byte locked.
bool ByteLockedByOthers(int fd, off_t at) {
    struct flock lock;
    memset(&lock, 0, sizeof lock);
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = at;
    lock.l_len = 1;
    return fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

// True when some descriptor, of any program, has the file open for writing.
// `fd` must be open for reading only.
bool OpenForWritingElsewhere(int fd) {
    if (ByteLockedByOthers(fd, kWriterByte))
        return true;
    if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        fcntl(fd, F_SETLEASE, F_UNLCK);
        return false;
    }
    return errno == EAGAIN;
}

HFILE Register(int fd) {
    openFiles.insert(fd);
    return fd + 1;
}

// Opens a host path; a folder is refused like on Windows. `denyWrite`: the
// open refuses writers (and fails when one is there); `truncate`: an
// existing file is cut to nothing once the share modes allow the open.
HFILE OpenHostFile(const std::string &path, int flags, mode_t mode, bool denyWrite, bool truncate) {
    if (path.empty())
        return HFILE_ERROR;
    int fd;
    do
        fd = open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY, mode);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // A running program's file cannot be written on either system.
        SetLastError(errno == ENOENT    ? ERROR_FILE_NOT_FOUND
                     : errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                     : errno == ETXTBSY ? ERROR_SHARING_VIOLATION
                                        : ERROR_ACCESS_DENIED);
        return HFILE_ERROR;
    }
    const bool reading = (flags & O_ACCMODE) == O_RDONLY;
    if (reading) {
        // A folder opens for reading here; for writing, open refuses it.
        struct stat st;
        if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
            close(fd);
            SetLastError(ERROR_ACCESS_DENIED);
            return HFILE_ERROR;
        }
    }
    const bool refused =
        reading ? denyWrite && OpenForWritingElsewhere(fd) : ByteLockedByOthers(fd, kDenyWriteByte);
    if (!refused && (denyWrite || !reading))
        LockByte(fd, reading ? kDenyWriteByte : kWriterByte);
    if (refused) {
        close(fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return HFILE_ERROR;
    }
    // Only a regular file has a length to cut (O_TRUNC ignores the others).
    struct stat st;
    if (truncate && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        ftruncate(fd, 0) != 0) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return HFILE_ERROR;
    }
    if (reading)
        StartReadAhead(fd);
    else
        StartWriteBehind(fd);
    return Register(fd);
}

const UINT kUintError = static_cast<UINT>(HFILE_ERROR);

// A search handle of FindFirstFileA; there is nothing to search further, so
// it only marks itself as ours.
struct FindHandle {
    unsigned magic;
};
const unsigned kFindMagic = 0x464e4448; // "FNDH"

void ToFileTime(const struct timespec &t, FILETIME *out) {
    long long ticks =
        (static_cast<long long>(t.tv_sec) + 11644473600LL) * 10000000LL + t.tv_nsec / 100;
    if (ticks < 0)
        ticks = 0;
    out->dwLowDateTime = static_cast<DWORD>(ticks);
    out->dwHighDateTime = static_cast<DWORD>(static_cast<unsigned long long>(ticks) >> 32);
}

std::string LastComponent(const std::string &path) {
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/')
        --end;
    size_t slash = path.rfind('/', end - 1);
    size_t start = (slash == std::string::npos) ? 0 : slash + 1;
    return path.substr(start, end - start);
}

} // namespace

int FdOf(HFILE file) {
    if (file <= 0)
        return -1;
    int fd = file - 1;
    return openFiles.count(fd) ? fd : -1;
}

bool SendPendingWrites(int fd) {
    return SendGathered(WriteBehindOf(fd));
}

void SendAllPendingWrites() {
    for (WriteBehind &w : writeBehinds)
        if (w.fd != -1)
            SendGathered(&w);
}

void ResetFiles() {
    writeLimitLoaded = false;
    ForgetFolderNames();
}

} // namespace host

void HostFailWritesAfter(long long bytes) {
    host::writeLimitLoaded = true;
    host::bytesWritten = 0;
    host::writeLimit = bytes < 0 ? -1 : bytes;
}

DWORD WINAPI GetLastError(void) {
    return host::lastError;
}

void WINAPI SetLastError(DWORD error) {
    host::lastError = error;
}

// ---- whole-file handles -------------------------------------------------------

HFILE WINAPI _lopen(LPCSTR path, int mode) {
    if (!path)
        return HFILE_ERROR;
    int flags;
    switch (mode & 3) {
    case OF_READ:
        flags = O_RDONLY;
        break;
    case OF_WRITE:
        flags = O_WRONLY;
        break;
    case OF_READWRITE:
        flags = O_RDWR;
        break;
    default:
        return HFILE_ERROR;
    }
    // Denying readers cannot be had here; exclusive opens deny writers.
    const int share = mode & 0x70;
    const bool denyWrite = share == OF_SHARE_DENY_WRITE || share == OF_SHARE_EXCLUSIVE;
    DWORD error = NO_ERROR;
    const std::string hostPath = host::WindowsPathToHost(path, false, &error);
    if (hostPath.empty()) {
        SetLastError(error);
        return HFILE_ERROR;
    }
    return host::OpenHostFile(hostPath, flags, 0, denyWrite, false);
}

HFILE WINAPI _lcreat(LPCSTR path, int attributes) {
    if (!path)
        return HFILE_ERROR;
    // Attribute 1 is read-only; hidden and system have no counterpart here.
    mode_t mode = (attributes & 1) ? 0444 : 0666;
    // Shares reading and writing; an open that denies writers refuses it,
    // and then the file is left as it was.
    DWORD error = NO_ERROR;
    host::Presence presence = host::Presence::unknown;
    const std::string hostPath = host::WindowsPathToHost(path, false, &error, &presence);
    if (hostPath.empty()) {
        SetLastError(error);
        return HFILE_ERROR;
    }
    // A file known to be missing is new: there is nothing to cut.
    HFILE file = host::OpenHostFile(hostPath, O_RDWR | O_CREAT, mode, false,
                                    presence != host::Presence::missing);
    if (file != HFILE_ERROR)
        host::NoteEntryMade(hostPath);
    return file;
}

UINT WINAPI _lread(HFILE file, LPVOID buffer, UINT count) {
    int fd = host::FdOf(file);
    if (fd < 0 || (!buffer && count > 0))
        return host::kUintError;
    // A handle with read-ahead is read-only: nothing gathered to send first,
    // and the package's per-block reads need not look.
    host::ReadAhead *r = host::ReadAheadOf(fd);
    if (!r && !host::SendPendingWrites(fd))
        return host::kUintError;
    char *to = static_cast<char *>(buffer);
    UINT done = 0;
    if (r) {
        while (done < count) {
            if (r->pos < r->len) {
                size_t n = std::min<size_t>(r->len - r->pos, count - done);
                memcpy(to + done, r->data + r->pos, n);
                r->pos += n;
                done += static_cast<UINT>(n);
                continue;
            }
            if (count - done >= static_cast<UINT>(host::kReadAhead)) {
                // A large read goes straight to the caller.
                while (done < count) {
                    ssize_t n = read(fd, to + done, count - done);
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (n < 0) {
                        r->end = lseek(fd, 0, SEEK_CUR);
                        return done > 0 ? done : host::kUintError;
                    }
                    if (n == 0)
                        break;
                    done += static_cast<UINT>(n);
                    r->end += n;
                }
                return done;
            }
            ssize_t n = read(fd, r->data, host::kReadAhead);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return done > 0 ? done : host::kUintError;
            if (n == 0)
                return done;
            r->pos = 0;
            r->len = static_cast<size_t>(n);
            r->end += n;
        }
        return done;
    }
    while (done < count) {
        ssize_t n = read(fd, to + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return done > 0 ? done : host::kUintError;
        if (n == 0)
            break;
        done += static_cast<UINT>(n);
    }
    return done;
}

UINT WINAPI _lwrite(HFILE file, LPCSTR buffer, UINT count) {
    int fd = host::FdOf(file);
    if (fd < 0)
        return host::kUintError;
    host::WriteBehind *w = host::WriteBehindOf(fd);
    if (count == 0) {
        // As on Windows, writing nothing cuts the file at the file position.
        if (!host::SendGathered(w))
            return host::kUintError;
        off_t at = lseek(fd, 0, SEEK_CUR);
        if (at < 0 || ftruncate(fd, at) != 0)
            return host::kUintError;
        return 0;
    }
    if (!buffer)
        return host::kUintError;
    host::LoadWriteLimit();
    UINT allowed = count;
    if (host::writeLimit >= 0) {
        long long left = host::writeLimit - host::bytesWritten;
        if (left < 0)
            left = 0;
        if (left < static_cast<long long>(count))
            allowed = static_cast<UINT>(left);
    }
    if (w && allowed == count && !w->failed) {
        // Gathered: sent once the buffer is full, or before anything else
        // touches the file.
        if (w->len + count > static_cast<size_t>(host::kWriteBehind) && !host::SendGathered(w))
            return host::kUintError;
        if (count <= static_cast<UINT>(host::kWriteBehind)) {
            memcpy(w->data + w->len, buffer, count);
            w->len += count;
            host::bytesWritten += count;
            return count;
        }
    }
    // Straight through: a write larger than the buffer, a handle without
    // one, or the simulated full disk, which must fail at the exact byte.
    if (!host::SendGathered(w))
        return host::kUintError;
    UINT done = static_cast<UINT>(host::WriteAll(fd, buffer, allowed));
    host::bytesWritten += done;
    if (done == 0 && allowed > 0)
        return host::kUintError; // the system refused the first byte
    return done;
}

// As on Windows, where _llseek is SetFilePointer without the high part of
// the distance: the offset is a signed 32-bit distance from the origin; a
// position before the start fails with ERROR_NEGATIVE_SEEK and one that does
// not fit 32 bits with ERROR_INVALID_PARAMETER, and neither moves the file
// position. A position from 2 GiB up is returned as its 32 bits, so it reads
// as a negative LONG; 0xFFFFFFFF itself reads as HFILE_ERROR with the last
// error cleared.
LONG WINAPI _llseek(HFILE file, LONG offset, int origin) {
    int fd = host::FdOf(file);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return HFILE_ERROR;
    }
    if (!host::SendPendingWrites(fd))
        return HFILE_ERROR;
    host::ReadAhead *r = host::ReadAheadOf(fd);
    // Where the program stands: the read-ahead's unread bytes are still ahead.
    off_t here = r ? r->end - static_cast<off_t>(r->len - r->pos) : lseek(fd, 0, SEEK_CUR);
    long long base;
    switch (origin) {
    case FILE_BEGIN:
        base = 0;
        break;
    case FILE_CURRENT:
        base = here;
        break;
    case FILE_END: {
        struct stat st;
        if (fstat(fd, &st) != 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return HFILE_ERROR;
        }
        base = st.st_size;
        break;
    }
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return HFILE_ERROR;
    }
    if (here < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return HFILE_ERROR;
    }
    const long long target = base + offset;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return HFILE_ERROR;
    }
    if (target > 0xFFFFFFFFLL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return HFILE_ERROR;
    }
    if (r) {
        // Within what read-ahead holds the move costs no system call; any
        // other move empties it and puts the descriptor where the program
        // stands.
        off_t start = r->end - static_cast<off_t>(r->len);
        if (target >= start && target <= r->end) {
            r->pos = static_cast<size_t>(target - start);
        } else {
            r->pos = r->len = 0;
            if (lseek(fd, static_cast<off_t>(target), SEEK_SET) < 0) {
                lseek(fd, here, SEEK_SET);
                r->end = here;
                SetLastError(ERROR_INVALID_PARAMETER);
                return HFILE_ERROR;
            }
            r->end = static_cast<off_t>(target);
        }
    } else if (lseek(fd, static_cast<off_t>(target), SEEK_SET) < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return HFILE_ERROR;
    }
    if (target == 0xFFFFFFFFLL)
        SetLastError(NO_ERROR); // a position, not a failure
    return static_cast<LONG>(static_cast<DWORD>(target));
}

HFILE WINAPI _lclose(HFILE file) {
    int fd = host::FdOf(file);
    if (fd < 0)
        return HFILE_ERROR;
    // What was gathered goes out first; a failure to send it, now or
    // earlier, is this close's failure, so that no lost byte goes unreported.
    bool sent = host::SendPendingWrites(fd);
    host::openFiles.erase(fd);
    host::EndReadAhead(fd);
    host::EndWriteBehind(fd);
    // The descriptor is gone whatever close reports (Linux never retries).
    bool closed = close(fd) == 0 || errno == EINTR;
    return sent && closed ? 0 : HFILE_ERROR;
}

// ---- folders ------------------------------------------------------------------

HANDLE WINAPI FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA data) {
    if (!path || !data || path[0] == '\0')
        return INVALID_HANDLE_VALUE;
    char last = path[strlen(path) - 1];
    DWORD error = NO_ERROR;
    host::Presence presence = host::Presence::unknown;
    struct stat st;
    std::string hostPath = host::WindowsPathToHost(path, true, &error, &presence, &st);
    if (last == '\\' || last == '/' || (!hostPath.empty() && hostPath.back() == '/')) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE; // a path ending in a separator names no entry
    }
    if (hostPath.empty()) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    // Wildcards in the last component: the first entry of the folder that
    // matches them.
    size_t slash = hostPath.find_last_of('/');
    std::string pattern = slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
    if (host::HasWildcard(pattern)) {
        std::string folder = slash == std::string::npos ? "" : hostPath.substr(0, slash + 1);
        std::vector<std::string> found = host::FolderEntriesMatching(folder, pattern);
        if (found.empty()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        hostPath = folder + found.front();
        presence = host::Presence::unknown;
    }
    if (presence == host::Presence::missing) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // One system call for the usual entry: lstat answers alone unless the
    // entry is a symbolic link, which is followed when it leads somewhere (a
    // dangling link is reported as itself, as before).
    if (presence != host::Presence::there && lstat(hostPath.c_str(), &st) != 0) {
        // Not found in a folder that is there; otherwise the path is wrong.
        size_t end = hostPath.find_last_of('/');
        std::string parent = end == std::string::npos ? "." : hostPath.substr(0, end + 1);
        struct stat folderStat;
        SetLastError(errno == ENOENT && stat(parent.c_str(), &folderStat) == 0 &&
                             S_ISDIR(folderStat.st_mode)
                         ? ERROR_FILE_NOT_FOUND
                         : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        if (stat(hostPath.c_str(), &target) == 0)
            st = target;
    }
    memset(data, 0, sizeof *data);
    data->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    host::ToFileTime(st.st_ctim, &data->ftCreationTime);
    host::ToFileTime(st.st_atim, &data->ftLastAccessTime);
    host::ToFileTime(st.st_mtim, &data->ftLastWriteTime);
    unsigned long long size = S_ISDIR(st.st_mode) ? 0 : static_cast<unsigned long long>(st.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    std::string name = host::Utf8ToAnsi(host::LastComponent(hostPath));
    if (name.size() >= MAX_PATH)
        name.resize(MAX_PATH - 1);
    memcpy(data->cFileName, name.c_str(), name.size() + 1);
    return new host::FindHandle{host::kFindMagic};
}

BOOL WINAPI FindClose(HANDLE find) {
    if (!find || find == INVALID_HANDLE_VALUE)
        return FALSE;
    host::FindHandle *handle = static_cast<host::FindHandle *>(find);
    if (handle->magic != host::kFindMagic)
        return FALSE;
    handle->magic = 0;
    delete handle;
    return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
    if (!path)
        return FALSE;
    DWORD error = NO_ERROR;
    std::string hostPath = host::WindowsPathToHost(path, false, &error);
    if (hostPath.empty()) {
        SetLastError(error);
        return FALSE;
    }
    if (mkdir(hostPath.c_str(), 0777) != 0) {
        SetLastError(errno == EEXIST   ? ERROR_ALREADY_EXISTS
                     : errno == ENOENT ? ERROR_PATH_NOT_FOUND
                                       : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    host::NoteEntryMade(hostPath);
    return TRUE;
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR path) {
    if (!path)
        return FALSE;
    DWORD error = NO_ERROR;
    std::string hostPath = host::WindowsPathToHost(path, false, &error);
    if (hostPath.empty()) {
        SetLastError(error);
        return FALSE;
    }
    return chdir(hostPath.c_str()) == 0;
}

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    char *cwd = getcwd(nullptr, 0);
    if (!cwd)
        return 0;
    std::string ansi = host::Utf8ToAnsi(cwd);
    free(cwd);
    return host::CopyOut(ansi, buffer, size);
}

// The Windows folder: MORVIK_WINDIR as given, or else "$HOME/.morvik/windows",
// which is created when it is missing (a Windows folder always exists).
static std::string WindowsFolder() {
    const char *value = getenv("MORVIK_WINDIR");
    if (value && *value)
        return value;
    std::string folder = host::HomeFolder() + "/.morvik/windows";
    host::MakeFolderTree(folder);
    return folder;
}

std::string host::SystemFolder() {
    return WindowsFolder() + "/system32";
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    return host::CopyOut(host::Utf8ToAnsi(WindowsFolder()), buffer, size);
}

// The system folder: "system32" in the Windows folder. Nothing is kept there;
// the one library it holds is answered by the host itself.
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
    return host::CopyOut(host::Utf8ToAnsi(host::SystemFolder()), buffer, size);
}

UINT WINAPI SetErrorMode(UINT) {
    // The host shows no error boxes of its own; nothing to switch off.
    return 0;
}
