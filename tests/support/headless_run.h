// Runs TVLHeadless.exe as a real child process, as a player or server owner
// would, and collects the lines it prints.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace headless {

// A copy of TVLHeadless.exe in a folder of its own, with a TVLLauncher.ini
// naming `serverHost` beside it. Returns the exe's path.
std::wstring installCopy(const std::wstring& serverHost);

// The data folder the child uses: the prefix's own local application data.
std::wstring dataFolder();

class Run {
public:
    Run(const std::wstring& exe, const std::wstring& args);
    ~Run();
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // Waits until some printed line satisfies `match`; false on time-out.
    bool waitForLine(const std::function<bool(const std::string&)>& match, int timeoutMs = 60000);
    bool waitForLine(const std::string& exact, int timeoutMs = 60000);
    // Exit code, or -1 when it is still running after the time-out.
    int waitExit(int timeoutMs = 60000);
    void kill();
    std::vector<std::string> lines();
    std::string transcript();

private:
    void readLoop();
    HANDLE process_ = nullptr;
    HANDLE readEnd_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::thread reader_;
};

int count(const std::vector<std::string>& lines, const std::string& prefix);

}  // namespace headless
