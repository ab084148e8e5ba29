#include <windows.h>

#include <cwchar>
#include <string>

#include "core/atomic_file_win.h"
#include "core/launcher_state.h"
#include "update/signed_version.h"

namespace {

bool recordPath(wchar_t* out) {
    int n = ::_snwprintf(out, kFilePathUnits, L"%ls\\signed_version.txt", gState.dataFolder);
    return n > 0 && n < kFilePathUnits;
}

}  // namespace

bool loadSignedVersion(int32_t* version) {
    wchar_t path[kFilePathUnits];
    if (!recordPath(path)) return false;
    ByteBuffer bytes = readWholeFile(path);
    return bytes && parseSignedVersion(bytes.data, bytes.size, version);
}

bool saveSignedVersion(int32_t version) {
    wchar_t path[kFilePathUnits];
    if (!recordPath(path)) return false;
    std::string text = formatSignedVersion(version);
    return writeFileAtomically(path, text.data(), text.size());
}
