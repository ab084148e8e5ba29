// Segments of one object fetched over several connections at once and
// handed over strictly in order, through a bounded window: whoever writes
// them keeps a part file that is always a prefix, and memory stays bounded
// whatever the object's size. The last segment goes first and alone: a cold
// cache in front of the origin can answer it only once it holds the whole
// object, so the rest never find it missing and fetch it again.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/byte_ranges.h"

// Connections one update uses at most. Eight, measured in bench/transfer.sh
// (see the README): many small files at 100 ms of round trip take 57 s with
// four, 39 s with six and 31 s with eight, still a fifth less at each step;
// a large file gains nothing past four, so eight only costs the server
// connections, which a kept-alive nginx holds cheaply.
constexpr int kConnections = 8;
constexpr int kMostConnections = 8;
extern std::atomic<int> gConnectionLimit;  // kConnections; TVLHeadless may measure others

constexpr int64_t kSegmentBytes = 4 * 1024 * 1024;
// What may be held at once: fetched, in flight or waiting its turn.
constexpr int64_t kWindowBytes = 32 * 1024 * 1024;

// A segment that brings less than a twentieth of what the others bring for
// this long holds every later one: the fetch ends where the bytes stand, so
// the caller asks the rest again (another connection, or a mirror). A span
// that --fast-waits divides.
constexpr uint32_t kSegmentBehindMs = 10000;
constexpr int64_t kSegmentBehindRatio = 20;

enum SegmentsEnd {
    kSegmentsDone,
    kSegmentsFailed,   // the connection, a 5xx, a body too slow: what came before stands
    kSegmentsUnfit,    // not the range asked for (a 200, a 416, another range)
    kSegmentsRefused,  // another 4xx
    kSegmentsDropped,  // the taker refused a segment
};

// Called on the caller's thread with the bytes at offset `at` of the object,
// in order, each segment in one or more pieces as it arrives.
using SegmentTaker = std::function<bool(int64_t at, const char* data, size_t size)>;

// GET `path` once per segment ("Range: bytes=a-b"), with up to
// gConnectionLimit requests in flight. Each body byte is counted in
// gState.bytesFromNetwork as it arrives; *requests counts what was sent.
// A segment that fails is asked once more at once, from where it broke off,
// before the fetch ends (unless a mirror can take over: then not); what came
// before the fault is handed over. When the fetch ends early (a failure, a
// segment far behind), the segments in flight stop at their next bytes
// rather than being waited for.
SegmentsEnd fetchSegments(const wchar_t* path, const std::vector<ByteRange>& segments, const SegmentTaker& take,
                          int* requests);

// A cache in front of the origin answers an object's last byte only once it
// holds the whole object. Objects whose last byte came back lately need no
// segment alone first: fetchSegments goes wide at once.
struct LastByte {
    std::wstring address;
    int64_t size = 0;  // the object's
};
// Asks each object's last byte, all at once (one round trip for them all);
// *requests counts what was sent. Its answers tell nothing else.
void warmObjects(const std::vector<LastByte>& objects, int* requests);
void noteWarm(const std::wstring& address);
bool isWarm(const std::wstring& address);
void forgetWarmObjects();
