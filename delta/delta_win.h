// A large file brought up to date from its installed copy: its block map
// fetched, the copy scanned, and the part file written in file order from
// runs copied out of the copy and ranges fetched from the server, several
// to a request. The part file is always a prefix of the new file, so a kill
// at any moment leaves something the next start continues from.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/game_files.h"

struct DeltaStats {
    int64_t reused = 0;   // bytes copied from installed files
    std::map<std::string, int64_t> reusedFrom;  // of those, per installed file (its manifest path)
    int64_t fetched = 0;  // body bytes that came over the network
    int requests = 0;     // the map's included
    bool usedFineMap = false;  // sub-blocks were placed by the fine map's sums
};

enum DeltaOutcome {
    kDeltaComplete,     // the part file holds entry.size bytes, not yet verified
    kDeltaUnavailable,  // no map, or no copy to use: download the file whole
    kDeltaFailed,       // an attempt failed; the part file holds a prefix
    kDeltaGaveUp,       // the server does not answer ranges usefully: the rest comes
                        // as a plain download from the part file's end, for this run
};

// Brings `part` (open for writing at *have, which bytesDone counts) to the
// entry's size from the installed copy at `installed` and the ranges of
// the object at `address` ("/launcher/o/<sha1>" at one of the sources; its
// map is that and ".map"). The map is fetched and the copy scanned once per
// file and run: a later attempt on the same file goes on from that scan.
// With a manifest key, only a map the manifest names by its SHA-256 is used. *have follows what is written; so does `written`
// (null when the part file did not start empty), the hash of the part file.
class Sha1Hash;
DeltaOutcome fetchByDelta(const ManifestEntry& entry, const std::wstring& address, const wchar_t* installed,
                          HANDLE part, int64_t* have, Sha1Hash* written, DeltaStats* stats);

// Told each file's figures ("Paks/b.pak: reused 53000000 bytes (41000000
// from Paks/a.pak, 12000000 from Paks/b.pak), fetched 1100000 bytes, 3
// request(s)"), for TVLHeadless; null in the launcher.
using DeltaObserver = void (*)(const wchar_t* line);
extern DeltaObserver gDeltaObserver;

// Every installed file a seed. Before a pass, the maps of every large file
// it may fetch (each from `address`, its object at a source) are fetched
// and indexed together, and each installed file in `seeds` is read once
// for the blocks of all of them; fetchByDelta then plans each such file
// from any seed. The others are planned alone, from their installed copy.
struct DeltaTarget {
    const ManifestEntry* entry;
    std::wstring address;
};
struct Seed {
    std::wstring path;  // on disk
    std::string name;   // its manifest path, as the figures name it
};
void prepareSeeds(const std::vector<DeltaTarget>& targets, const std::vector<Seed>& seeds);

// Whether `path` is a seed of the pass: it must not be replaced before the
// pass's deltas are done.
bool isSeed(const wchar_t* path);

// Whether the file of that SHA-1 has a plan in the pass (it needs no
// installed copy at its own path).
bool plannedForPass(const char* sha1);

// What the pass's plan for that file fetches before any fine map refines
// it; -1 when the pass has no plan for it.
int64_t plannedFetchBytes(const char* sha1);

// Closes the seeds and drops the pass's plans, after its last delta.
void forgetSeeds();

// A whole part file that failed its SHA-1 (one wrong byte from a source):
// each block checked against the file's map, fetched from `address` (the
// next source's object), and only the blocks that differ fetched again from
// there and written in place. False when there is no usable map, nothing
// differs from it, too much differs, or the ranges could not be had; the
// part file must then be hashed (or dropped) whatever it holds.
bool mendByMap(const ManifestEntry& entry, const std::wstring& address, HANDLE part, DeltaStats* stats);

// A delta placed by this file's fine map failed its SHA-1: its later
// attempts this run go without the fine map, before the file comes whole.
void refuseFineMap(const char* sha1);

// Forgets what this run learned: the plans, and the hosts that answer
// one range per request. Tests start each case from nothing.
void forgetDeltaState();
