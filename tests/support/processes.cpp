#include "tests/support/processes.h"

#include <doctest/doctest.h>
#include <tlhelp32.h>

namespace procs {

std::wstring fakesFolder() {
    wchar_t exe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring p(exe);
    return p.substr(0, p.rfind(L'\\')) + L"\\fakes";
}

void installFake(const wchar_t* name, const std::wstring& folder, const wchar_t* as) {
    std::wstring to = folder + L"\\" + (as ? as : name);
    ::CreateDirectoryW(folder.c_str(), nullptr);
    REQUIRE(::CopyFileW((fakesFolder() + L"\\" + name).c_str(), to.c_str(), FALSE));
}

void startProcess(const std::wstring& exe) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring folder = exe.substr(0, exe.rfind(L'\\'));
    REQUIRE(::CreateProcessW(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi));
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
}

namespace {
template <typename Visit>
void forEachProcess(const wchar_t* exeName, Visit visit) {
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W e;
    e.dwSize = sizeof e;
    for (BOOL more = ::Process32FirstW(snap, &e); more; more = ::Process32NextW(snap, &e))
        if (::lstrcmpiW(e.szExeFile, exeName) == 0) visit(e.th32ProcessID);
    ::CloseHandle(snap);
}
}  // namespace

bool processRunning(const wchar_t* exeName) {
    bool found = false;
    forEachProcess(exeName, [&](DWORD) { found = true; });
    return found;
}

void killAll(const wchar_t* exeName) {
    forEachProcess(exeName, [](DWORD id) {
        HANDLE p = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (!p) return;
        ::TerminateProcess(p, 0);
        ::WaitForSingleObject(p, 5000);
        ::CloseHandle(p);
    });
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (done()) return true;
        ::Sleep(10);
    }
    return done();
}

}  // namespace procs
