// The shell library on the native host: LoadLibraryA("Shell32.dll") and the
// folder browser that start-up looks up in it (SHBrowseForFolder, SHGetMalloc,
// SHGetPathFromIDList). The picker itself is the user's: the host asks the
// current HostUser which folder is chosen, or whether the picker is cancelled.
//
// MORVIK_SHELL32, read at every LoadLibraryA, takes the library apart for
// tests (a comma-separated list; unset or empty: all there, as on Windows):
//   absent          LoadLibraryA("Shell32.dll") fails
//   no-browse, no-malloc, no-path
//                   GetProcAddress finds no SHBrowseForFolder, SHGetMalloc or
//                   SHGetPathFromIDList
//   malloc-fails    SHGetMalloc returns E_FAIL and no allocator
//   path-fails      SHGetPathFromIDList returns FALSE and writes nothing
#include "posix/host_internal.h"
#include "window_internal.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <set>
#include <string>

struct _ITEMIDLIST {
    std::string path; // the folder chosen, ANSI
};

namespace {

char shellMarker; // its address is the module handle of "Shell32.dll"

bool loaded = false;
int allocatorReferences = 0;
std::set<const ITEMIDLIST *> liveItemLists;
std::string settings;

bool Setting(const char *word) {
    size_t start = 0;
    while (start <= settings.size()) {
        size_t end = settings.find(',', start);
        if (end == std::string::npos)
            end = settings.size();
        std::string item = settings.substr(start, end - start);
        while (!item.empty() && item.front() == ' ')
            item.erase(0, 1);
        while (!item.empty() && item.back() == ' ')
            item.pop_back();
        if (item == word)
            return true;
        start = end + 1;
    }
    return false;
}

// The shell's task allocator: frees item lists the picker handed out.
class TaskAllocator : public IMalloc {
  public:
    void Free(void *block) override {
        ITEMIDLIST *list = static_cast<ITEMIDLIST *>(block);
        if (liveItemLists.erase(list))
            delete list;
    }
    ULONG Release() override {
        if (allocatorReferences > 0)
            --allocatorReferences;
        return static_cast<ULONG>(allocatorReferences);
    }
    virtual ~TaskAllocator() = default;
};
TaskAllocator taskAllocator;

const LONG kFail = static_cast<LONG>(0x80004005u); // E_FAIL

HRESULT WINAPI ShGetMalloc(LPMALLOC *allocator) {
    if (!allocator)
        return kFail;
    if (Setting("malloc-fails")) {
        *allocator = nullptr;
        return kFail;
    }
    ++allocatorReferences;
    *allocator = &taskAllocator;
    return 0;
}

LPITEMIDLIST WINAPI ShBrowseForFolder(LPBROWSEINFOA info) {
    if (!info)
        return nullptr;
    HostBrowse browse;
    browse.owner = info->hwndOwner;
    browse.title = info->lpszTitle ? info->lpszTitle : "";
    browse.flags = info->ulFlags;
    browse.rooted = info->pidlRoot != nullptr;
    HostTranscriptLine("folder picker shown: title " + HostQuote(browse.title) + " flags " +
                       std::to_string(browse.flags));
    std::string folder;
    if (!HostCurrentUser().OnBrowseForFolder(browse, &folder)) {
        HostTranscriptLine("folder picker cancelled");
        return nullptr;
    }
    HostTranscriptLine("folder picker chose " + HostQuote(folder));
    if (info->pszDisplayName) {
        // The display name is the folder's own name, cut to MAX_PATH.
        size_t slash = folder.find_last_of("\\/");
        std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
        if (name.size() >= MAX_PATH)
            name.resize(MAX_PATH - 1);
        memcpy(info->pszDisplayName, name.c_str(), name.size() + 1);
    }
    ITEMIDLIST *list = new ITEMIDLIST{folder};
    liveItemLists.insert(list);
    return list;
}

BOOL WINAPI ShGetPathFromIdList(LPCITEMIDLIST list, LPSTR path) {
    if (!list || !path || !liveItemLists.count(list) || Setting("path-fails"))
        return FALSE;
    if (list->path.size() >= MAX_PATH)
        return FALSE; // no path that long fits the caller's MAX_PATH buffer
    memcpy(path, list->path.c_str(), list->path.size() + 1);
    return TRUE;
}

} // namespace

int HostShellAllocatorReferences() {
    return allocatorReferences;
}

size_t HostShellLiveItemLists() {
    return liveItemLists.size();
}

// The host's other library is the system's CNG library (bcrypt.cpp).
HMODULE WINAPI LoadLibraryA(LPCSTR name) {
    if (name && strcasecmp(name, "Shell32.dll") != 0)
        return host::LoadSystemLibrary(name);
    const char *value = getenv("MORVIK_SHELL32");
    settings = value ? value : "";
    if (!name || Setting("absent"))
        return nullptr;
    loaded = true;
    return static_cast<HMODULE>(&shellMarker);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    if (module != static_cast<HMODULE>(&shellMarker))
        return name ? host::SystemLibraryProc(module, name) : nullptr;
    if (!loaded || !name)
        return nullptr;
    if (!strcmp(name, "SHBrowseForFolder") && !Setting("no-browse"))
        return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(&ShBrowseForFolder));
    if (!strcmp(name, "SHGetMalloc") && !Setting("no-malloc"))
        return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(&ShGetMalloc));
    if (!strcmp(name, "SHGetPathFromIDList") && !Setting("no-path"))
        return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(&ShGetPathFromIdList));
    return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    if (module != static_cast<HMODULE>(&shellMarker))
        return host::FreeSystemLibrary(module) ? TRUE : FALSE;
    if (!loaded)
        return FALSE;
    loaded = false;
    return TRUE;
}
