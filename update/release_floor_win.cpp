#include <windows.h>

#include <cwchar>
#include <string>

#include "core/atomic_file_win.h"
#include "core/launcher_state.h"
#include "update/release_floor.h"
#include "update/release_fetch_win.h"
#include "update/signing_formats.h"

namespace {

bool recordPath(wchar_t* out) {
    int n = ::_snwprintf(out, kFilePathUnits, L"%ls\\release_versions.txt", gState.dataFolder);
    return n > 0 && n < kFilePathUnits;
}

std::vector<ReleaseFloor> loadFloors() {
    wchar_t path[kFilePathUnits];
    if (!recordPath(path)) return {};
    ByteBuffer bytes = readWholeFile(path);
    return bytes ? parseReleaseFloors(bytes.data, bytes.size) : std::vector<ReleaseFloor>();
}

std::string keyText() { return encodeBase64(gState.manifestKey.xy, sizeof gState.manifestKey.xy); }

}  // namespace

ReleaseFloor loadReleaseFloor() { return floorFor(loadFloors(), keyText(), configuredHost()); }

bool saveReleaseFloor(int32_t version, int32_t launcher) {
    wchar_t path[kFilePathUnits];
    std::vector<ReleaseFloor> floors = loadFloors();
    if (!recordPath(path) || !raiseFloor(&floors, {keyText(), configuredHost(), version, launcher})) return false;
    const std::string text = formatReleaseFloors(floors);
    return writeFileAtomically(path, text.data(), text.size());
}
