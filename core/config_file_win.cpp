#include <windows.h>

#include <string>

#include "core/config_file.h"
#include "core/kernel_handle_win.h"
#include "core/launcher_state.h"

namespace {

enum class ReadResult { kRead, kMissing, kFailed, kTooLarge };

// The whole file in one pass. Others may read or even write it meanwhile:
// only a program that holds it exclusively makes this fail.
ReadResult readConfigBytes(const wchar_t* path, std::string* bytes) {
    KernelHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadResult::kMissing
                                                                               : ReadResult::kFailed;
    }
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.get(), &size)) return ReadResult::kFailed;
    if (size.QuadPart > static_cast<LONGLONG>(kConfigFileLimit)) return ReadResult::kTooLarge;
    bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes->empty() && (!::ReadFile(file.get(), bytes->data(), static_cast<DWORD>(bytes->size()), &got, nullptr) ||
                            got != bytes->size()))
        return ReadResult::kFailed;
    return ReadResult::kRead;
}

}  // namespace

ConfigProblem loadConfigFile(const wchar_t* path, std::optional<std::string>* key) {
    std::string bytes;
    ReadResult read = readConfigBytes(path, &bytes);
    for (int attempt = 1; read == ReadResult::kFailed && attempt < kConfigReadAttempts; ++attempt) {
        ::Sleep(kConfigRetryMs);
        read = readConfigBytes(path, &bytes);
    }
    if (read == ReadResult::kMissing) return kConfigFine;
    if (read == ReadResult::kFailed) return kConfigUnreadable;
    std::string text;
    if (read == ReadResult::kTooLarge || !decodeConfigText(bytes.data(), bytes.size(), &text)) return kConfigNotText;
    std::optional<std::string> proxy;
    readConfigText(text, gState.serverHost, kServerHostUnits, key, &proxy);
    if (proxy && !parseProxySetting(*proxy, &gState.proxy)) return kConfigProxyMalformed;
    // Rather than go round the proxy the player named, or hand its password
    // to WinHTTP (which would send it inside the tunnel too): refused.
    if (gState.proxy.kind == kProxySocks5 || !gState.proxy.user.empty()) return kConfigProxyUnsupported;
    return kConfigFine;
}
