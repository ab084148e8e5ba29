// A program started by the launcher (its prepared build) inherits exactly
// the handles it is given, never whatever else the launcher holds.
#include <doctest/doctest.h>

#include <cstdio>
#include <string>

#include "core/kernel_handle_win.h"
#include "core/process_start_win.h"
#include "tests/support/processes.h"

TEST_CASE("a started program inherits the handles it is given and no other") {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    KernelHandle given(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
    KernelHandle other(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
    REQUIRE((given && other));
    const std::wstring folder = procs::fakesFolder();
    const std::wstring tamper = folder.substr(0, folder.rfind(L'\\')) + L"\\file_tamper.exe";
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring out = std::wstring(temp) + L"tvl_inherited.txt";
    ::DeleteFileW(out.c_str());
    auto value = [](const KernelHandle& h) { return std::to_wstring(reinterpret_cast<uintptr_t>(h.get())); };

    REQUIRE(startProcess(tamper, L"handles \"" + out + L"\" " + value(given) + L" " + value(other), {given.get()}));
    REQUIRE(procs::waitUntil([&] { return ::GetFileAttributesW(out.c_str()) != INVALID_FILE_ATTRIBUTES; }));
    char line[8] = {};
    FILE* f = ::_wfopen(out.c_str(), L"rb");
    REQUIRE(f);
    std::fread(line, 1, sizeof line - 1, f);
    std::fclose(f);
    CHECK(std::string(line) == "10");
    ::DeleteFileW(out.c_str());
}
