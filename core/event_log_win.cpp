#include "core/event_log_win.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <mutex>
#include <vector>

#include "core/event_log.h"
#include "core/kernel_handle_win.h"

std::atomic<bool> gLogEcho{false};
std::atomic<bool> gLogOff{false};

namespace {

thread_local char tThreadName[24] = "";

std::mutex gSetupLock;  // the path and folders are set once, read by every thread after
std::wstring gLogPath, gOldLogPath;
PrivateFolders gPrivate;
HANDLE gWriteMutex = nullptr;  // shared by every launcher that logs to this file
std::atomic<bool> gOpen{false};

}  // namespace

std::string logUtf8(const std::wstring& text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                        nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

namespace {

std::string environmentFolder(const wchar_t* name) {
    wchar_t value[MAX_PATH];
    const DWORD n = ::GetEnvironmentVariableW(name, value, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::wstring folder(value, n);
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    return folder.size() > 3 ? logUtf8(folder) : std::string();  // never a bare drive
}

// One mutex per log file: its name is the path's, folded to what a kernel
// object's name may hold.
std::wstring mutexName(const std::wstring& path) {
    uint64_t hash = 1469598103934665603ULL;
    for (wchar_t c : path) {
        const wchar_t lower = c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
        hash = (hash ^ static_cast<uint64_t>(lower)) * 1099511628211ULL;
    }
    wchar_t name[64];
    _snwprintf_s(name, _TRUNCATE, L"Local\\TVLLauncherLog-%016llx", static_cast<unsigned long long>(hash));
    return name;
}

LogTime timeNow() {
    SYSTEMTIME t;
    ::GetSystemTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

KernelHandle openForAppend(const std::wstring& path) {
    return KernelHandle(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The file is opened for each line: another launcher may have moved it
// aside since, and a handle kept open would follow it to launcher.1.log.
void appendWhole(const std::string& line) {
    const DWORD waited = ::WaitForSingleObject(gWriteMutex, 5000);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return;  // a writer that died still hands it on
    KernelHandle file = openForAppend(gLogPath);
    LARGE_INTEGER size{};
    if (file && ::GetFileSizeEx(file.get(), &size) && logWantsRotation(size.QuadPart, line.size())) {
        file.reset();
        ::MoveFileExW(gLogPath.c_str(), gOldLogPath.c_str(), MOVEFILE_REPLACE_EXISTING);
        file = openForAppend(gLogPath);
    }
    DWORD written = 0;
    // One write: a kill loses the line whole or not at all.
    if (file) ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::ReleaseMutex(gWriteMutex);
}

}  // namespace

void openEventLog(const wchar_t* dataFolder) {
    std::lock_guard<std::mutex> hold(gSetupLock);
    if (gOpen) return;
    gLogPath = std::wstring(dataFolder) + L"\\launcher.log";
    gOldLogPath = std::wstring(dataFolder) + L"\\launcher.1.log";
    // The local folder lies inside the profile: it is matched first.
    for (const auto& [variable, standIn] : {std::pair{L"LOCALAPPDATA", "%LOCALAPPDATA%"},
                                            std::pair{L"APPDATA", "%APPDATA%"},
                                            std::pair{L"USERPROFILE", "%USERPROFILE%"}}) {
        const std::string folder = environmentFolder(variable);
        if (!folder.empty()) gPrivate.emplace_back(folder, standIn);
    }
    gWriteMutex = ::CreateMutexW(nullptr, FALSE, mutexName(gLogPath).c_str());
    gOpen = gWriteMutex != nullptr;
}

std::wstring eventLogPath() {
    std::lock_guard<std::mutex> hold(gSetupLock);
    return gLogPath;
}

void setLogThread(const char* name) { std::snprintf(tThreadName, sizeof tThreadName, "%s", name); }

void logEvent(const char* format, ...) {
    if (gLogOff || (!gOpen && !gLogEcho)) return;
    char text[kLogTextLimit + 1];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) return;
    const std::string line = formatLogLine(timeNow(), tThreadName, withoutPrivate(text, gPrivate));
    if (gOpen) appendWhole(line);
    if (gLogEcho) {
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
    }
}
