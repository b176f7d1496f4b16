/* The control of the DLL-planting check: loads "Shell32.dll" the plain way,
 * without restricting the DLL search path first, as a program that does not
 * guard against planting would. Exit code 0 when the library loaded. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)instance, (void)previous, (void)commandLine, (void)show;
    HMODULE library = LoadLibraryA("Shell32.dll");
    if (library)
        FreeLibrary(library);
    return library ? 0 : 1;
}
