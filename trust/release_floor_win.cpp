#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "core/atomic_file_win.h"
#include "core/launcher_state.h"
#include "trust/release.h"
#include "trust/release_floor.h"
#include "trust/release_identity_win.h"
#include "trust/signing_formats.h"

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

// The version of the release kept in the data folder, when it is signed
// under the key and names this host: it proves that version was accepted,
// so losing the record alone cannot let an older release back in.
int32_t keptReleaseVersion() {
    const std::wstring path = keptReleasePath();
    const ByteBuffer bytes = path.empty() ? ByteBuffer() : readWholeFile(path.c_str());
    Release kept;
    if (!bytes || !readRelease(bytes.data, bytes.size, &kept) || !releaseSigned(bytes.data, kept) ||
        kept.host != configuredHost())
        return 0;
    return kept.version;
}

}  // namespace

ReleaseFloor loadReleaseFloor() {
    ReleaseFloor floor = floorFor(loadFloors(), keyText(), configuredHost());
    if (gState.manifestKey.state == kManifestKeyValid) floor.version = std::max(floor.version, keptReleaseVersion());
    return floor;
}

bool saveReleaseFloor(int32_t version, int32_t launcher) {
    wchar_t path[kFilePathUnits];
    std::vector<ReleaseFloor> floors = loadFloors();
    if (!recordPath(path) || !raiseFloor(&floors, {keyText(), configuredHost(), version, launcher})) return false;
    const std::string text = formatReleaseFloors(floors);
    return writeFileAtomically(path, text.data(), text.size());
}
