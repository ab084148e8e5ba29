// Prints the launcher's own file-name key (fileNameKey: Windows' invariant
// upper-case table) of every line of a UTF-8 file, one line each, so the
// publish tool's folding can be held against it rather than a copy of it.
//   file_name_keys.exe IN OUT
#include <windows.h>

#include <cstdio>
#include <string>

#include "files/manifest_paths.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    FILE* in = ::_wfopen(argv[1], L"rb");
    FILE* out = ::_wfopen(argv[2], L"wb");
    if (!in || !out) return 1;
    std::string line;
    for (int c; (c = std::fgetc(in)) != EOF;) {
        if (c != '\n') {
            line.push_back(static_cast<char>(c));
            continue;
        }
        std::u16string key = fileNameKey(line.c_str());
        std::wstring wide(key.begin(), key.end());
        int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
        std::string utf8(n > 0 ? n : 0, '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr, nullptr);
        std::fprintf(out, "%s\n", utf8.c_str());
        line.clear();
    }
    std::fclose(in);
    return std::fclose(out) == 0 ? 0 : 1;
}
