// Readers for the launcher server's two text documents, "/launcher/info" and
// "/launcher/manifest". They are not JSON parsers: each value is found by a
// fixed key pattern, exactly as the server writes it.
//
// Pure functions over bytes: no <windows.h>, never read past `size`, and a
// zero byte inside a body ends it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/game_files.h"

struct ServerInfo {
    bool hasVersion = false;  // without "version" the server is not set up for us
    int32_t lobbies = 0;
    int32_t players = 0;
    std::optional<std::wstring> notes;  // nullopt: no notes
};

// The Ready-phase re-read: counts only when both are present.
struct ServerInfoPoll {
    bool hasCounts = false;
    int32_t lobbies = 0;
    int32_t players = 0;
    bool hasVersion = false;
    int32_t version = 0;
};

struct ManifestResult {
    bool accepted = false;
    bool hasVersion = false;  // the version is stored even when entries are rejected
    int32_t version = 0;
};

constexpr size_t kManifestInitialCapacity = 256;

ServerInfo readInfo(const char* data, size_t size);
ServerInfoPoll readInfoPoll(const char* data, size_t size);

// Fills `entries` afresh (room for 256, doubling when full). On rejection the
// entries read so far stay in place, but callers must not use them.
ManifestResult readManifest(const char* data, size_t size, std::vector<ManifestEntry>& entries);
