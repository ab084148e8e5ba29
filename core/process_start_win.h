// Starts a program, choosing exactly which handles it inherits: by default a
// new process inherits every inheritable handle of its parent.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Starts `exe` with `arguments` (already quoted as needed). Only the handles
// in `inherited` pass to the new process; with none, nothing does.
bool startProcess(const std::wstring& exe, const std::wstring& arguments, std::vector<HANDLE> inherited = {});
