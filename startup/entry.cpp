// The program's entry point: the command line's tail goes to start-up, and
// the process ends with its result: 0 when the last extraction completed
// (or for "-info"), 1 when the user ended it without an error, 2 when an
// error or an abort ended it.
#include "startup/startup.h"

#ifdef _WIN32

typedef BOOL(WINAPI *SetDefaultDllDirectoriesProc)(DWORD);

// A self-extractor usually runs from a downloads folder where a planted DLL
// may wait: before anything else loads a library, the search is kept to the
// system folder where the system allows it, and the program's folder is
// taken out of it otherwise.
static void RestrictLibrarySearch() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    SetDefaultDllDirectoriesProc setDefault =
        kernel ? (SetDefaultDllDirectoriesProc)(void *)GetProcAddress(kernel,
                                                                      "SetDefaultDllDirectories")
               : NULL;
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryA("");
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RestrictLibrarySearch();
    char *tail = SkipProgramName(GetCommandLineA());
    ExitProcess((UINT)StartUp(GetModuleHandleA(NULL), tail));
}

#else

#include "posix/host.h"
#include "posix/window_host.h"

int main(int argc, char **argv) {
    HostSetArgs(argc, argv);
    HostInitUserFromEnvironment();
    char *tail = SkipProgramName(GetCommandLineA());
    ExitProcess((UINT)StartUp(GetModuleHandleA(NULL), tail));
}

#endif
