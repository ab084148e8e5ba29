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

// Never destroyed: threads left running may log while the process ends.
std::mutex& gSetupLock = *new std::mutex;  // the path and folders are set once, read by every thread after
std::wstring& gLogPath = *new std::wstring;
std::wstring& gOldLogPath = *new std::wstring;
PrivateFolders& gPrivate = *new PrivateFolders;
std::string& gAccountName = *new std::string;
// This run's start lines (version, Windows, host), written again at the top
// of each file this launcher starts, so a log of a long run still says them.
std::vector<std::string>& gPreamble = *new std::vector<std::string>;
HANDLE gWriteMutex = nullptr;  // shared by every launcher that logs to this file
std::atomic<bool> gOpen{false};

// Shared by every launcher that logs to this file, like the mutex: how often
// the log was moved aside. A handle kept open follows the file it opened to
// launcher.1.log, so it is opened again when another launcher rotated.
struct SharedLogState {
    volatile LONG rotations;
};
SharedLogState* gShared = nullptr;
KernelHandle& gFile = *new KernelHandle;  // under the mutex
LONG gFileRotation = -1;       // the rotation gFile was opened at
// Lines not written because the log was full and another program held it
// without delete sharing (a viewer that follows it): said once, then counted.
int64_t gDropped = 0;          // under the mutex
bool gHeldNoted = false;       // under the mutex
std::mutex& gEchoLock = *new std::mutex;  // orders the echo when no file is open

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

// One mutex and one shared record per log file: their names are the
// path's, folded to what a kernel object's name may hold.
std::wstring objectName(const wchar_t* kind, const std::wstring& path) {
    uint64_t hash = 1469598103934665603ULL;
    for (wchar_t c : path) {
        const wchar_t lower = c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
        hash = (hash ^ static_cast<uint64_t>(lower)) * 1099511628211ULL;
    }
    wchar_t name[64];
    _snwprintf_s(name, _TRUNCATE, L"Local\\TVLLauncherLog%ls-%016llx", kind, static_cast<unsigned long long>(hash));
    return name;
}

LogTime timeNow() {
    SYSTEMTIME t;
    ::GetSystemTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

void echo(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

KernelHandle openForAppend(const std::wstring& path) {
    return KernelHandle(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Under the mutex: the handle of launcher.log as it is now.
HANDLE currentFile() {
    const LONG rotation = gShared ? gShared->rotations : 0;
    if (!gShared || !gFile || rotation != gFileRotation) {
        gFile = openForAppend(gLogPath);
        gFileRotation = rotation;
    }
    return gFile.get();
}

// Under the mutex: moves a full log aside. False when another program holds
// it: nothing moved, nothing counted.
bool rotate() {
    gFile.reset();
    if (!::MoveFileExW(gLogPath.c_str(), gOldLogPath.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
    if (gShared) ::InterlockedIncrement(&gShared->rotations);
    return true;
}

// The lines to write before `line` in a file just started by rotating.
std::string preambleLines() {
    std::string lines;
    std::lock_guard<std::mutex> hold(gSetupLock);
    for (const std::string& text : gPreamble) lines += formatLogLine(timeNow(), "log", "at this run's start: " + text);
    if (gDropped > 0)
        lines += formatLogLine(timeNow(), "log", std::to_string(gDropped) +
                                                     " line(s) were left out while launcher.log was full and held");
    return lines;
}

// What to write under the mutex: `line`, after the start lines when the log
// was just moved aside; empty when it is full and cannot be.
std::string linesToWrite(HANDLE& file, const std::string& line) {
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file, &size) || !logWantsRotation(size.QuadPart, line.size())) return line;
    if (rotate()) {
        file = currentFile();
        std::string lines = preambleLines() + line;
        gDropped = 0;
        gHeldNoted = false;
        return lines;
    }
    file = currentFile();
    ++gDropped;
    if (gHeldNoted) return {};
    gHeldNoted = true;  // the room kept at the end takes this one line
    return formatLogLine(timeNow(), "log",
                         "launcher.log is full and another program holds it: lines are left out until it can be "
                         "moved aside");
}

void appendWhole(const std::string& line) {
    const DWORD waited = ::WaitForSingleObject(gWriteMutex, 5000);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return;  // a writer that died still hands it on
    HANDLE file = currentFile();
    const std::string lines = linesToWrite(file, line);
    DWORD written = 0;
    // One write: a kill loses the lines whole or not at all.
    if (file && !lines.empty()) ::WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
    // The echo under the same lock, so standard error holds the file's order.
    if (gLogEcho) echo(line);
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
    wchar_t account[257];
    DWORD units = 257;
    if (::GetUserNameW(account, &units) && units > 1) gAccountName = logUtf8(std::wstring(account, units - 1));
    gWriteMutex = ::CreateMutexW(nullptr, FALSE, objectName(L"Lock", gLogPath).c_str());
    // Without the shared record each line opens the file again: slower, as safe.
    HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SharedLogState),
                                          objectName(L"State", gLogPath).c_str());
    if (mapping) gShared = static_cast<SharedLogState*>(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(SharedLogState)));
    gOpen = gWriteMutex != nullptr;
}

std::wstring eventLogPath() {
    std::lock_guard<std::mutex> hold(gSetupLock);
    return gLogPath;
}

void setLogThread(const char* name) { std::snprintf(tThreadName, sizeof tThreadName, "%s", name); }

namespace {

void logText(const std::string& text) {
    const std::string line = formatLogLine(timeNow(), tThreadName, text);
    if (gOpen) {
        appendWhole(line);
    } else if (gLogEcho) {
        std::lock_guard<std::mutex> hold(gEchoLock);
        echo(line);
    }
}

// One event from its format; a start line is also kept for the top of
// every file this run starts.
void logFormatted(bool startLine, const char* format, va_list args) {
    if (gLogOff || (!gOpen && !gLogEcho)) return;
    char text[kLogTextLimit + 1];
    if (std::vsnprintf(text, sizeof text, format, args) < 0) return;
    const std::string clean = withoutPrivate(text, gPrivate, gAccountName);
    if (startLine) {
        std::lock_guard<std::mutex> hold(gSetupLock);
        gPreamble.push_back(clean);
    }
    logText(clean);
}

}  // namespace

void logEvent(const char* format, ...) {
    va_list args;
    va_start(args, format);
    logFormatted(false, format, args);
    va_end(args);
}

void logStartEvent(const char* format, ...) {
    va_list args;
    va_start(args, format);
    logFormatted(true, format, args);
    va_end(args);
}
