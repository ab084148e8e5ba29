// Another Windows program that gets at the launcher's files, as a virus
// scanner, an editor or malware in the same folder would.
//   file_tamper.exe hold PATH MS
//     opens PATH with no sharing at all, prints "held", keeps it MS
//     milliseconds, lets go and prints "released"
//   file_tamper.exe replace TARGET REPLACEMENT
//     tries every way to put REPLACEMENT's bytes where TARGET is: write over
//     it, rename over it, rename it away, delete it. Prints each outcome and
//     exits with the number that succeeded.
//   file_tamper.exe handles OUT H...
//     writes to OUT, for each handle value H, 1 when this process holds such
//     a handle and 0 when not (what it inherited)
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

int hold(const wchar_t* path, const wchar_t* ms) {
    HANDLE file = ::CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 100;
    std::puts("held");
    std::fflush(stdout);
    ::Sleep(static_cast<DWORD>(std::wcstoul(ms, nullptr, 10)));
    ::CloseHandle(file);
    std::puts("released");
    return 0;
}

bool overwrite(const std::wstring& target, const std::wstring& replacement) {
    HANDLE file = ::CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return ::CopyFileW(replacement.c_str(), target.c_str(), FALSE) != 0;
}

bool renameOver(const std::wstring& target, const std::wstring& replacement) {
    const std::wstring copy = replacement + L".copy";
    return ::CopyFileW(replacement.c_str(), copy.c_str(), FALSE) &&
           ::MoveFileExW(copy.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool renameAway(const std::wstring& target, const std::wstring& replacement) {
    return ::MoveFileExW(target.c_str(), (target + L".away").c_str(), MOVEFILE_REPLACE_EXISTING) &&
           ::CopyFileW(replacement.c_str(), target.c_str(), FALSE);
}

bool deleteAndPut(const std::wstring& target, const std::wstring& replacement) {
    return ::DeleteFileW(target.c_str()) && ::CopyFileW(replacement.c_str(), target.c_str(), FALSE);
}

int replace(const std::wstring& target, const std::wstring& replacement) {
    struct Attack {
        const char* name;
        bool (*run)(const std::wstring&, const std::wstring&);
    } attacks[] = {{"write over", overwrite}, {"rename over", renameOver}, {"rename away", renameAway},
                   {"delete", deleteAndPut}};
    int succeeded = 0;
    for (const Attack& attack : attacks) {
        const bool done = attack.run(target, replacement);
        std::printf("%s: %s\n", attack.name, done ? "done" : "refused");
        succeeded += done;
    }
    return succeeded;
}

int handles(const wchar_t* out, int count, wchar_t** values) {
    std::string line;
    for (int i = 0; i < count; ++i) {
        DWORD flags = 0;
        HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::wcstoull(values[i], nullptr, 10)));
        line += ::GetHandleInformation(h, &flags) ? "1" : "0";
    }
    const std::wstring temp = std::wstring(out) + L".tmp";  // OUT appears whole
    FILE* f = ::_wfopen(temp.c_str(), L"wb");
    if (!f) return 100;
    std::fputs(line.c_str(), f);
    std::fclose(f);
    return ::MoveFileExW(temp.c_str(), out, MOVEFILE_REPLACE_EXISTING) ? 0 : 100;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wcscmp(argv[1], L"hold") == 0) return hold(argv[2], argv[3]);
    if (argc == 4 && std::wcscmp(argv[1], L"replace") == 0) return replace(argv[2], argv[3]);
    if (argc >= 3 && std::wcscmp(argv[1], L"handles") == 0) return handles(argv[2], argc - 3, argv + 3);
    return 100;
}
