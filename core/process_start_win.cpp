#include "core/process_start_win.h"

bool startProcess(const std::wstring& exe, const std::wstring& arguments, std::vector<HANDLE> inherited) {
    std::wstring line = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    std::vector<char> attributes;
    if (!inherited.empty()) {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        attributes.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
        if (!::InitializeProcThreadAttributeList(list, 1, 0, &size)) return false;
        startup.lpAttributeList = list;
        if (!::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                         inherited.size() * sizeof(HANDLE), nullptr, nullptr)) {
            ::DeleteProcThreadAttributeList(list);
            return false;
        }
    }
    PROCESS_INFORMATION process{};
    const BOOL started = ::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, !inherited.empty(),
                                          inherited.empty() ? 0 : EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                          &startup.StartupInfo, &process);
    if (startup.lpAttributeList) ::DeleteProcThreadAttributeList(startup.lpAttributeList);
    if (!started) return false;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
}

