// Writes launcher.log through the launcher's own logger as fast as it can,
// for the log story: rotation, a second launcher at the same time, and a
// kill -9 in the middle.
//   log_writer DATA_FOLDER TAG COUNT
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
    if (argc != 4) return 2;
    std::wcsncpy(gState.dataFolder, argv[1], kFolderPathUnits - 1);
    openEventLog(gState.dataFolder);
    setLogThread("worker");
    const std::string tag = logUtf8(argv[2]);
    logStartEvent("log_writer %s started", tag.c_str());
    const long count = std::wcstol(argv[3], nullptr, 10);
    for (long n = 1; n <= count; ++n)
        logEvent("%s %ld: GET /launcher/info from launcher.tervalon.net: 200, 312 bytes in 4 ms, reused connection; "
                 "GET /launcher/release from launcher.tervalon.net: 200, 958 bytes in 3 ms, reused connection",
                 tag.c_str(), n);
    return 0;
}
