#include "app/launcher_swap_win.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>
#include <vector>

#include "core/kernel_handle_win.h"
#include "core/launcher_state.h"
#include "core/launcher_version.h"
#include "core/process_start_win.h"
#include "trust/release_floor.h"
#include "update/launcher_update_win.h"

namespace {

constexpr wchar_t kReplaceArgument[] = L"--replace-launcher";  // then the exe's path and a process handle
constexpr wchar_t kNoSwapArgument[] = L"--no-swap";
constexpr DWORD kOldLauncherWaitMs = 60000;
constexpr int kMoveAttempts = 50;  // 100 ms apart: a virus scanner may hold the file a moment

std::vector<std::wstring> commandArguments() {
    std::vector<std::wstring> arguments;
    int count = 0;
    LPWSTR* list = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!list) return arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(list[i]);
    ::LocalFree(list);
    return arguments;
}

// The kept release must verify under the key, name this host, stand no
// lower than the releases accepted since, offer a higher version than this
// exe, and match the build byte for byte, as read through `build`.
bool preparedBuildTrusted(const PreparedLauncher& prepared, HANDLE build) {
    LauncherOffer offer;
    return keptOffer(prepared.release, &offer) && offer.version > kLauncherVersion &&
           openFileMatchesOffer(build, offer);
}

// Step 1, in the old exe. The build is held from its check to its start,
// shared for reading only: no other program can write, rename, replace or
// delete it in between, so what starts is what was checked.
bool handOver(const std::wstring& exe) {
    const PreparedLauncher prepared = preparedLauncherFor(exe);
    const bool present = ::GetFileAttributesW(prepared.build.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!present || gState.manifestKey.state != kManifestKeyValid) {
        if (!present) discardPreparedLauncher(prepared);  // documents left by a finished swap
        return false;
    }
    KernelHandle build(::CreateFileW(prepared.build.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!build) return false;  // another program is writing it: the next start checks again
    if (!preparedBuildTrusted(prepared, build.get())) {
        build.reset();
        discardPreparedLauncher(prepared);
        return false;
    }
    if (gPreparedBuildChecked) gPreparedBuildChecked(prepared.build.c_str());
    HANDLE self = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), &self, SYNCHRONIZE,
                           TRUE, 0))
        return false;
    const std::wstring arguments = std::wstring(kReplaceArgument) + L" \"" + exe + L"\" " +
                                   std::to_wstring(reinterpret_cast<uintptr_t>(self));
    const bool started = startProcess(prepared.build, arguments, {self});
    ::CloseHandle(self);
    return started;
}

bool moveOver(const std::wstring& from, const std::wstring& to) {
    for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
        if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        ::Sleep(100);
    }
    return false;
}

// Steps 2 and 3, in the new build. False: go on as the launcher.
bool takeOver(const std::wstring& exe, const std::wstring& handleText) {
    HANDLE old = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::wcstoull(handleText.c_str(), nullptr, 10)));
    if (old) {
        ::WaitForSingleObject(old, kOldLauncherWaitMs);
        ::CloseHandle(old);
    }
    // A build replaces only the exe it was prepared beside, whatever a
    // command line says. Start-up named this process's own file.
    const std::wstring self = gLauncherExePath;
    if (self.empty() || _wcsicmp(self.c_str(), preparedLauncherFor(exe).build.c_str()) != 0) return false;
    if (!moveOver(self, exe)) {
        // The old exe runs as today; the build waits for the next start.
        return startProcess(exe, kNoSwapArgument);
    }
    gLauncherExePath = exe;  // this image still carries the name it started under
    // Remembered, so that a release offering an older build, even one of
    // the same release version, is never taken for news.
    const PreparedLauncher prepared = preparedLauncherFor(exe);
    LauncherOffer swapped;
    if (keptOffer(prepared.release, &swapped)) saveReleaseFloor(0, swapped.version);
    ::DeleteFileW(prepared.release.c_str());
    return false;
}

}  // namespace

PreparedBuildHook gPreparedBuildChecked = nullptr;

bool swapPreparedLauncher() {
    const std::vector<std::wstring> arguments = commandArguments();
    if (arguments.size() >= 3 && arguments[0] == kReplaceArgument) return takeOver(arguments[1], arguments[2]);
    if (!arguments.empty() && arguments[0] == kNoSwapArgument) return false;
    const std::wstring exe = gLauncherExePath;  // this exe, as start-up found it
    return !exe.empty() && handOver(exe);
}
