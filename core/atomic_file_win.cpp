#include <windows.h>

#include <string>

#include "core/atomic_file_win.h"
#include "core/kernel_handle_win.h"

bool writeFileAtomically(const wchar_t* path, const void* data, size_t size) {
    const std::wstring temp = std::wstring(path) + L".tmp";
    bool written = false;
    {
        KernelHandle file(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
        if (!file) return false;
        DWORD done = 0;
        written = size <= MAXDWORD && ::WriteFile(file.get(), data, static_cast<DWORD>(size), &done, nullptr) &&
                  done == size && ::FlushFileBuffers(file.get());
    }
    if (written && ::MoveFileExW(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    ::DeleteFileW(temp.c_str());
    return false;
}
