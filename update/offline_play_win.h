// Playing when only the launcher's server is down: the release the
// installed files are at is kept with its manifest, and "Play offline"
// asks whether every file still matches them by the verification cache.
#pragma once

#include <cstdint>
#include <string>

#include "core/byte_buffer.h"

// The worker, whenever the files are up to date with an accepted release:
// keeps that release and its manifest beside the cache ("installed_release.txt",
// "installed_manifest.txt"), each written whole.
void keepInstalledRelease(const ByteBuffer& release, const ByteBuffer& manifest);

struct OfflinePlay {
    bool playable = false;
    int32_t version = 0;
    std::wstring reason;  // why not, for the player: one sentence
};

// Any thread: the kept release (signed with the configured key, where one
// is configured), its manifest by its hash, and every file by its cache row.
// Reads the files' sizes and times; hashes nothing.
OfflinePlay judgeOfflinePlay();
