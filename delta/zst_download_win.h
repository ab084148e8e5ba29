// A part file brought to its file's size from the file's zst form
// ("<sha1>.zst" beside its object, and for a file of several frames its
// frame table "<sha1>.frames", both named by the signed manifest): the
// frames from the one holding the part file's end, decoded as they arrive
// and written in order, so the part file stays a prefix of the file and any
// route can go on from it. The file's SHA-1 is checked after, as for every
// download.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "core/game_files.h"
#include "files/sha1_win.h"

enum ZstOutcome {
    kZstUnavailable,  // the manifest names no zst form for it
    kZstComplete,     // the part file is whole
    kZstFailed,       // the network failed; what came stands, the next attempt goes on
    kZstUnusable,     // not here, or a table or bytes that do not hold: the file comes as it is
};

struct ZstStats {
    int64_t fetched = 0;  // bytes of the zst form
    int requests = 0;
    std::string why;  // for the log, when unusable
};

// `object` is the file's object address at this attempt's source; `part`
// is open at *have, which grows as bytes are written (and counted in
// gState.bytesDone). `written` (or null) gets every byte written.
ZstOutcome fetchZstForm(const ManifestEntry& entry, const std::wstring& object, HANDLE part, int64_t* have,
                        Sha1Hash* written, ZstStats* stats);
