#include "tests/support/headless_run.h"

#include <chrono>
#include <filesystem>

#include "tests/support/sandbox.h"

namespace headless {

std::wstring installCopy(const std::wstring& serverHost) {
    wchar_t exe[MAX_PATH], temp[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring built = std::wstring(exe).substr(0, std::wstring(exe).rfind(L'\\')) + L"\\TVLHeadless.exe";
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"tvl-tests\\headless";
    std::filesystem::create_directories(folder);
    std::wstring copy = folder + L"\\TVLHeadless.exe";
    ::CopyFileW(built.c_str(), copy.c_str(), FALSE);
    std::string host(serverHost.begin(), serverHost.end());
    sandbox::writeFile(folder + L"\\TVLLauncher.ini", "server=" + host + "\r\n");
    return copy;
}

std::wstring dataFolder() {
    wchar_t local[MAX_PATH];
    ::GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
    return std::wstring(local) + L"\\UE4TVL";
}

Run::Run(const std::wstring& exe, const std::wstring& args) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    ::CreatePipe(&readEnd_, &writeEnd, &inherit, 0);
    ::SetHandleInformation(readEnd_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    std::wstring command = L"\"" + exe + L"\" " + args;
    PROCESS_INFORMATION pi{};
    if (::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        ::CloseHandle(pi.hThread);
        process_ = pi.hProcess;
    }
    ::CloseHandle(writeEnd);
    reader_ = std::thread([this] { readLoop(); });
}

Run::~Run() {
    kill();
    if (reader_.joinable()) reader_.join();
    ::CloseHandle(readEnd_);
    if (process_) ::CloseHandle(process_);
}

void Run::readLoop() {
    std::string pending;
    char buf[4096];
    DWORD got = 0;
    while (::ReadFile(readEnd_, buf, sizeof buf, &got, nullptr) && got > 0) {
        pending.append(buf, got);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            pending.erase(0, end + 1);
            std::lock_guard<std::mutex> hold(mutex_);
            lines_.push_back(line);
            changed_.notify_all();
        }
    }
}

bool Run::waitForLine(const std::function<bool(const std::string&)>& match, int timeoutMs) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] {
        for (const auto& l : lines_)
            if (match(l)) return true;
        return false;
    });
}

bool Run::waitForLine(const std::string& exact, int timeoutMs) {
    return waitForLine([&](const std::string& l) { return l == exact; }, timeoutMs);
}

int Run::waitExit(int timeoutMs) {
    if (!process_ || ::WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    if (reader_.joinable()) reader_.join();  // every line is in once the pipe closes
    return static_cast<int>(code);
}

void Run::kill() {
    if (process_ && ::WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
        ::TerminateProcess(process_, 9);
        ::WaitForSingleObject(process_, 10000);
    }
}

std::vector<std::string> Run::lines() {
    std::lock_guard<std::mutex> hold(mutex_);
    return lines_;
}

std::string Run::transcript() {
    std::string all;
    for (const auto& l : lines()) all += l + "\n";
    return all;
}

int count(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const auto& l : lines) n += l.rfind(prefix, 0) == 0;
    return n;
}

}  // namespace headless
