// "release_versions.txt" in the data folder: for each key and server host,
// the highest release version accepted under a valid signature, and the
// highest launcher build swapped in from one. A release below the first is
// a rollback and is refused; an offer not above the second is old, even in
// a release of the same version (a launcher publish keeps the version).
// One line per key and host:
//   <key, 88 base64 characters> <host> <version> <launcher version>\n
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr size_t kReleaseFloorLimit = 65536;  // about 300 lines; a longer file is not ours
constexpr size_t kReleaseFloorLines = 64;     // the oldest line goes when a new pair would pass this

struct ReleaseFloor {
    std::string key;  // the key's base64 text
    std::string host;
    int32_t version = 0;
    int32_t launcher = 0;
};

// Pure. Lines that are not in the form above are skipped: the others still hold.
std::vector<ReleaseFloor> parseReleaseFloors(const char* data, size_t size);
std::string formatReleaseFloors(const std::vector<ReleaseFloor>& floors);
// Versions 0 when the pair has no line yet.
ReleaseFloor floorFor(const std::vector<ReleaseFloor>& floors, std::string_view key, std::string_view host);
// Raises (never lowers) the pair's versions; false when nothing changed.
bool raiseFloor(std::vector<ReleaseFloor>* floors, const ReleaseFloor& raised);

// In the data folder, for the configured key and the server= host. A
// missing or unreadable record means no floor: it is written atomically,
// so only a hand can spoil it.
ReleaseFloor loadReleaseFloor();
bool saveReleaseFloor(int32_t version, int32_t launcher);
