// Writes launcher.log through the launcher's own logger as fast as it can,
// for the log story: rotation, a second launcher at the same time, and a
// kill -9 in the middle.
//   log_writer DATA_FOLDER TAG COUNT [held]
// With "held", the writer first opens launcher.log itself without delete
// sharing, as a log viewer that follows the file does, so it cannot rotate.
// Each line reads "<TAG> <n>: " and then what one Ready poll of the
// launcher logs, padded to a cycle's worth of bytes.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "core/event_log_win.h"
#include "core/launcher_state.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 && !(argc == 5 && std::wcscmp(argv[4], L"held") == 0)) return 2;
    std::wcsncpy(gState.dataFolder, argv[1], kFolderPathUnits - 1);
    HANDLE viewer = INVALID_HANDLE_VALUE;
    if (argc == 5) {
        const std::wstring log = std::wstring(argv[1]) + L"\\launcher.log";
        viewer = ::CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                               nullptr);
        if (viewer == INVALID_HANDLE_VALUE) return 3;
    }
    openEventLog(gState.dataFolder);
    setLogThread("worker");
    const std::string tag = logUtf8(argv[2]);
    logStartEvent("log_writer %s started", tag.c_str());
    const long count = std::wcstol(argv[3], nullptr, 10);
    for (long n = 1; n <= count; ++n)
        logEvent("%s %ld: GET /launcher/info from launcher.tervalon.net: 200, 312 bytes in 4 ms, reused connection; "
                 "GET /launcher/release from launcher.tervalon.net: 200, 958 bytes in 3 ms, reused connection",
                 tag.c_str(), n);
    if (viewer != INVALID_HANDLE_VALUE) ::CloseHandle(viewer);
    return 0;
}
