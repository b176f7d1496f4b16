/* A stand-in for a DLL planted beside a downloaded program: built as
 * shell32.dll, it leaves a marker file in its own folder as soon as any
 * process loads it. The Wine suite plants it next to a package and checks
 * that the stub never loads it. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH + 32];
        DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
        while (length > 0 && path[length - 1] != '\\' && path[length - 1] != '/')
            --length;
        lstrcpyA(path + length, "planted-dll-loaded.txt");
        HANDLE file =
            CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            char process[MAX_PATH];
            DWORD n = GetModuleFileNameA(NULL, process, MAX_PATH);
            DWORD written;
            WriteFile(file, process, n, &written, NULL);
            CloseHandle(file);
        }
    }
    return TRUE;
}
