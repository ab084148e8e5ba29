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
    kZstUnavailable,  // the manifest names no such form for it
    kZstComplete,     // the part file is whole
    kZstFailed,       // the network failed; what came stands, the next attempt goes on
    kZstUnusable,     // not here, or a table or bytes that do not hold: the file comes as it is
};

struct ZstStats {
    int64_t fetched = 0;  // bytes of the zst form
    int requests = 0;
    std::string why;  // for the log, when unusable
};

// What to fetch: the file's own zst form, or a patch, which is a zst form
// whose frames each refer to an older version of the file (its installed
// copy, mapped by the caller).
struct ZstForm {
    std::wstring name;  // its address without ".zst" (its frame table adds ".frames")
    int64_t size = 0;
    const char* framesSha256 = "";  // "" for none named
    const uint8_t* reference = nullptr;
    size_t referenceSize = 0;
};

// The file's own form, where the manifest names one (else size 0), at
// `object`, the file's object address at this attempt's source.
ZstForm ownZstForm(const ManifestEntry& entry, const std::wstring& object);
// The patch `offer` at the same place, over `reference`.
ZstForm patchForm(const PatchOffer& offer, const std::wstring& object, const uint8_t* reference, size_t referenceSize);

// `part` is open at *have, which grows as bytes are written (and counted in
// gState.bytesDone). `written` (or null) gets every byte written.
ZstOutcome fetchZstForm(const ManifestEntry& entry, const ZstForm& form, HANDLE part, int64_t* have,
                        Sha1Hash* written, ZstStats* stats);
