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
    // The answer appears by a rename, and under Wine the new name was seen
    // once before it could be opened (a CI try): read until it opens.
    std::string line;
    REQUIRE(procs::waitUntil([&] {
        FILE* f = ::_wfopen(out.c_str(), L"rb");
        if (!f) return false;
        char text[8] = {};
        std::fread(text, 1, sizeof text - 1, f);
        std::fclose(f);
        line = text;
        return true;
    }));
    CHECK(line == "10");
    ::DeleteFileW(out.c_str());
}
