// Linked into a test build of TVLLauncher only. Between the prepared
// build's check and its start it writes "<build>.checked" and waits (at most
// 60 s) for "<build>.go", so that a story can attack the build at exactly
// that moment.
#include <windows.h>

#include <string>

#include "app/launcher_swap_win.h"

namespace {

void pauseAfterCheck(const wchar_t* build) {
    const std::wstring checked = std::wstring(build) + L".checked", go = std::wstring(build) + L".go";
    HANDLE marker = ::CreateFileW(checked.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (marker != INVALID_HANDLE_VALUE) ::CloseHandle(marker);
    for (int i = 0; i < 600 && ::GetFileAttributesW(go.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) ::Sleep(100);
}

struct InstallSeam {
    InstallSeam() { gPreparedBuildChecked = pauseAfterCheck; }
} gInstallSeam;

}  // namespace
