#include "core/folders_win.h"

#include <windows.h>

#include <string>

bool createFolderWithParents(const wchar_t* folder) {
    const std::wstring path(folder);
    // From the first separator after the root ("C:\" or "\\server\share\").
    size_t start = path.rfind(L"\\\\", 0) == 0 ? path.find(L'\\', path.find(L'\\', 2) + 1) : path.find(L'\\');
    for (size_t i = start == std::wstring::npos ? path.size() : start + 1; i < path.size(); ++i)
        if (path[i] == L'\\') ::CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    ::CreateDirectoryW(folder, nullptr);
    const DWORD attributes = ::GetFileAttributesW(folder);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
