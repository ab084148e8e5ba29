// Real processes for tests: the stand-ins for the game and Steam (built
// under their real names into fakes/), started, waited for and ended.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace procs {

std::wstring fakesFolder();
// Copies fakes/<name> into `folder` (as `as` when given).
void installFake(const wchar_t* name, const std::wstring& folder, const wchar_t* as = nullptr);
void startProcess(const std::wstring& exe);
bool processRunning(const wchar_t* exeName);
void killAll(const wchar_t* exeName);
// Polls `done` every 10 ms; false when it is still not true after the time-out.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 20000);

}  // namespace procs
