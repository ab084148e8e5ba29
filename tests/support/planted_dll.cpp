// A DLL as a web page would drop it into the Downloads folder beside the
// launcher, under the name of a system DLL. Loading it at all is the attack:
// its DllMain leaves "<its own path>.loaded" beside it. Every export the
// launcher uses is this one stub (x64: one calling convention for all), so
// the exe loads it exactly as it would load the real one.
#include <windows.h>

extern "C" __declspec(dllexport) INT_PTR plantedStub() { return 0; }

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH + 8];
    const DWORD n = ::GetModuleFileNameW(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return TRUE;
    ::lstrcatW(path, L".loaded");
    HANDLE marker = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (marker != INVALID_HANDLE_VALUE) ::CloseHandle(marker);
    return TRUE;
}
