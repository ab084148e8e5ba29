// Holds a file as a virus scanner or an editor may: opened with no sharing
// at all, so nobody else can open it. Prints "held", keeps it MS
// milliseconds, then lets go and prints "released".
//   file_holder.exe PATH MS
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::puts("held");
    std::fflush(stdout);
    ::Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    ::CloseHandle(file);
    std::puts("released");
    return 0;
}
