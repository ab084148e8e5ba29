#include "delta/delta_win.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <cwchar>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/event_log_win.h"
#include "core/kernel_handle_win.h"
#include "core/launcher_state.h"
#include "core/text_utf8.h"
#include "delta/block_map.h"
#include "delta/delta_plan.h"
#include "delta/fine_map.h"
#include "files/sha1_behind_win.h"
#include "files/sha1_win.h"
#include "net/body_prefetch_win.h"
#include "net/http_client.h"
#include "net/multipart.h"
#include "net/range_hosts_win.h"
#include "net/segment_fetch_win.h"
#include "trust/release.h"
#include "trust/signature_check_win.h"

DeltaObserver gDeltaObserver = nullptr;

namespace {

constexpr size_t kScanPiece = 4 * 1024 * 1024;
constexpr size_t kCopyPiece = 1024 * 1024;
constexpr size_t kRangesPerRequest = 200;  // about 5 KB of header: well within nginx's 8 KB line

bool hexHash(const char* sha1) {
    for (int i = 0; i < 40; ++i)
        if (!((sha1[i] >= '0' && sha1[i] <= '9') || (sha1[i] >= 'a' && sha1[i] <= 'f'))) return false;
    return sha1[40] == 0;
}

std::wstring shownName(const ManifestEntry& entry) {
    const char* slash = std::strrchr(entry.path, '/');
    const char* name = slash ? slash + 1 : entry.path;
    wchar_t display[200];
    utf8ToUtf16(name, std::strlen(name), display, 200);
    return display;
}

bool readAt(HANDLE file, int64_t offset, void* out, DWORD size, DWORD* got) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return ::ReadFile(file, out, size, got, &at) != 0;
}

// The map's bytes are the ones the manifest names (an unnamed map was
// turned away before its fetch where a key is held).
bool mapNamed(const ManifestEntry& entry, const ByteBuffer& body) {
    if (!entry.mapSha256[0]) return true;
    uint8_t digest[32];
    return sha256(body.data, body.size, digest) && ::objectAddress(digest).substr(12) == entry.mapSha256;
}

// The parts of a multipart body, joined: they must follow one another from 0.
class JoinedParts : public MultipartSink {
public:
    bool onPart(int64_t first, int64_t) override { return first == static_cast<int64_t>(bytes.size()); }
    bool onData(const char* data, size_t size) override {
        bytes.append(data, size);
        return true;
    }
    std::string bytes;
};

// The map, asked as two ranges ("bytes=0-0,1-"): the answer tells whether
// the host serves several ranges in one request before any request for the
// object, where a 200 would start the whole file. A 200 is the map itself;
// a 416 or any other misanswer makes the host one of a range per request,
// and the map is asked again plainly.
ByteBuffer fetchMapProbing(const std::wstring& address, size_t limit, DeltaStats* stats, DWORD* status) {
    ++stats->requests;
    ServerRequest request = openRangeRequest(address.c_str(), "bytes=0-0,1-");
    if (!request) return {};
    *status = requestStatusCode(request);
    std::string boundary;
    bool brokeOff = false;
    if (*status == 206 && multipartBoundary(responseHeader(request, WINHTTP_QUERY_CONTENT_TYPE), &boundary)) {
        const ByteBuffer raw = readResponseBody(request, kBodyChunk, limit + kMultipartHeaderLimit);
        MultipartReader reader(boundary);
        JoinedParts map;
        if (raw) reader.feed(raw.data, raw.size, map);  // whatever follows the closing boundary is no part of it
        if (reader.complete() && map.bytes.size() <= limit) {
            *status = 200;
            return ByteBuffer::copyOf(map.bytes.data(), map.bytes.size());
        }
        brokeOff = !raw;  // a body that did not arrive says nothing of its form
    }
    if (*status == 404 || *status == 410) return {};  // no map here, whatever the host does
    // Only an answer that says so makes the host one of a range per request:
    // a 503 or a broken connection is asked again plainly, and learnt nothing from.
    if (!brokeOff && answerRefusesSeveralRanges(*status, false)) learnOneRange(address);
    if (*status == 200) {
        ByteBuffer body = readResponseBody(request, kBodyChunk, limit);
        return body && body.size <= limit ? std::move(body) : ByteBuffer();
    }
    request = ServerRequest();
    ++stats->requests;
    return fetchServerDocument(address.c_str(), status, limit);
}

bool fetchMap(const ManifestEntry& entry, const std::wstring& object, BlockMap* map, DeltaStats* stats) {
    if (!entry.mapSha256[0] && gState.manifestKey.state != kNoManifestKey) return false;
    DWORD status = 0;
    const std::wstring address = object + L".map";
    const size_t limit = blockMapLimit(entry.size);
    ByteBuffer body;
    if (servesOneRange(address)) {
        ++stats->requests;
        body = fetchServerDocument(address.c_str(), &status, limit);
    } else {
        body = fetchMapProbing(address, limit, stats, &status);
    }
    return body && status == 200 && mapNamed(entry, body) && readBlockMap(body.data, body.size, entry.sha1, entry.size, map);
}

// Installed files a new file's bytes are copied from, by number, each
// opened when first read and closed with the set.
class SeedSet {
public:
    void add(const std::wstring& path, const std::string& name) {
        paths_.push_back(path);
        names_.push_back(name);
        handles_.emplace_back();
    }
    size_t size() const { return paths_.size(); }
    const std::wstring& path(int32_t seed) const { return paths_[static_cast<size_t>(seed)]; }
    const std::string& name(int32_t seed) const { return names_[static_cast<size_t>(seed)]; }
    HANDLE handle(int32_t seed) {
        if (seed < 0 || static_cast<size_t>(seed) >= handles_.size()) return nullptr;
        KernelHandle& h = handles_[static_cast<size_t>(seed)];
        // Shared for deleting too: a file the update replaces may still be open here.
        if (!h)
            h = KernelHandle(::CreateFileW(paths_[static_cast<size_t>(seed)].c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        return h.get();
    }
    size_t read(int32_t seed, int64_t at, uint8_t* out, size_t size) {
        const HANDLE h = handle(seed);
        DWORD got = 0;
        return h && readAt(h, at, out, static_cast<DWORD>(size), &got) ? static_cast<size_t>(got) : size_t{0};
    }

private:
    std::vector<std::wstring> paths_;
    std::vector<std::string> names_;
    std::vector<KernelHandle> handles_;
};

// A new file's map, where it sits in an index, and what the fine map found.
struct PlannedFile {
    std::string sha1;
    BlockMap map;
    BlockIndex* index = nullptr;
    size_t which = 0;
    bool refined = false;
    FineMatches fine;
    int mapRequests = 0;  // the map's, counted in the file's figures
};

// Maps, indexes (one per block size) and seeds, scanned once: for every
// large file of a pass (prepareSeeds), or for the last file alone (its
// installed copy its one seed), kept for the next attempt on it so a
// failed request never costs another pass over the seeds.
struct PlannedSet {
    SeedSet seeds;
    std::vector<std::unique_ptr<BlockIndex>> indexes;
    std::vector<PlannedFile> files;
    PlannedFile* find(const char* sha1) {
        for (PlannedFile& f : files)
            if (f.sha1 == sha1) return &f;
        return nullptr;
    }
};
// Files whose fine map placed a delta that failed its SHA-1 (delta/delta_win.h).
std::set<std::string> gFineRefused;
PlannedSet gPass;    // the pass's: every installed file a seed
PlannedSet gSingle;  // the last file planned alone
std::wstring gSingleInstalled;

// The part file grows only at its end, in the new file's order.
class PartWriter {
public:
    // Hashed as written (on a thread of its own): no second read of a
    // multi-GB file to verify it.
    PartWriter(HANDLE part, SeedSet& seeds, int64_t* have, Sha1Hash* written, DeltaStats* stats)
        : part_(part), seeds_(seeds), have_(have), hashing_(written), stats_(stats) {}

    bool write(const void* data, DWORD size) {
        if (!writeOnly(data, size)) return false;
        hashing_.add(data, size);
        return true;
    }

    // `length` bytes of seed `seed` from `source`.
    bool copy(int32_t seed, int64_t source, int64_t length) {
        while (length > 0) {
            const size_t want = static_cast<size_t>(std::min<int64_t>(length, kCopyPiece));
            std::vector<uint8_t> piece = hashing_.spare();
            piece.resize(want);
            const size_t got = seeds_.read(seed, source, piece.data(), want);
            if (got != want || !writeOnly(piece.data(), static_cast<DWORD>(got))) return false;
            hashing_.add(std::move(piece));
            stats_->reused += static_cast<int64_t>(got);
            stats_->reusedFrom[seeds_.name(seed)] += static_cast<int64_t>(got);
            gState.copyBytesLeft -= static_cast<int64_t>(got);
            source += static_cast<int64_t>(got);
            length -= static_cast<int64_t>(got);
        }
        return true;
    }

    int64_t have() const { return *have_; }

private:
    bool writeOnly(const void* data, DWORD size) {
        DWORD done = 0;
        if (size && (!::WriteFile(part_, data, size, &done, nullptr) || done != size)) return false;
        *have_ += size;
        gState.bytesDone += size;
        postStateChanged(0);
        return true;
    }

    HANDLE part_;
    SeedSet& seeds_;
    int64_t* have_;
    Sha1Behind hashing_;
    DeltaStats* stats_;
};

// Takes bytes of the new file at any offset, as a response brings them:
// what extends the part file is written, the gap before it filled from the
// copy where the plan copies it, and what the part file has already skipped.
class ResponseSink : public MultipartSink {
public:
    // `counted`: the fetch counted its bytes into bytesFromNetwork as they came.
    ResponseSink(PartWriter& writer, const std::vector<DeltaRun>& runs, int64_t fileSize, DeltaStats* stats,
                 bool counted = false)
        : writer_(writer), runs_(runs), size_(fileSize), stats_(stats), counted_(counted) {}

    bool onPart(int64_t first, int64_t last) override {
        at_ = first;
        end_ = last + 1;
        return true;
    }
    bool onData(const char* data, size_t size) override {
        stats_->fetched += static_cast<int64_t>(size);
        if (!counted_) gState.bytesFromNetwork += static_cast<int64_t>(size);
        if (at_ + static_cast<int64_t>(size) > end_) return false;  // more than the part announced
        const int64_t start = at_;
        at_ += static_cast<int64_t>(size);
        if (at_ <= writer_.have()) return true;  // held already
        if (start > writer_.have() && !copyUpTo(start)) return false;
        const int64_t skip = writer_.have() - start;
        const int64_t room = std::min<int64_t>(static_cast<int64_t>(size) - skip, size_ - writer_.have());
        return writer_.write(data + skip, static_cast<DWORD>(room));
    }
    // A body that is the file from `offset` on (a 200, or one span).
    void startSpan(int64_t offset, int64_t last) { onPart(offset, last); }

private:
    // Only copied runs may lie between the part file's end and new data:
    // a fetched run there means the server left a range out.
    bool copyUpTo(int64_t offset) {
        for (const DeltaRun& run : runs_) {
            const int64_t runEnd = run.target + run.length;
            if (runEnd <= writer_.have()) continue;
            if (run.target >= offset) break;
            if (!run.copy) return false;
            const int64_t from = writer_.have(), to = std::min(runEnd, offset);
            if (!writer_.copy(run.seed, run.source + (from - run.target), to - from)) return false;
        }
        return writer_.have() == offset;
    }

    PartWriter& writer_;
    const std::vector<DeltaRun>& runs_;
    int64_t size_;
    DeltaStats* stats_;
    bool counted_;
    int64_t at_ = 0, end_ = 0;
};

// Copies what the plan copies before its first fetched run.
bool copyLeading(PartWriter& writer, const std::vector<DeltaRun>& runs) {
    for (const DeltaRun& run : runs) {
        if (!run.copy) return true;
        if (!writer.copy(run.seed, run.source + (writer.have() - run.target), run.target + run.length - writer.have()))
            return false;
    }
    return true;
}

enum Answer {
    kAnswerUsed,     // taken as far as it went
    kAnswerUnfit,    // not what was asked: ranges refused (416, 501), malformed, or bytes outside the plan
    kAnswerRefused,  // another 4xx: no ranges of this object to be had here
    kAnswerFailed,   // no whole answer: the connection, a 5xx, a body too slow
};

Answer unanswered(DWORD status) {
    if (status == 416 || status == 501 || status == 206) return kAnswerUnfit;
    return status >= 400 && status < 500 ? kAnswerRefused : kAnswerFailed;
}

// A 200 to ranges is the whole file. Its rest is read where little is left;
// otherwise it is abandoned as soon as its status says so, not read through.
constexpr int64_t kSmallRest = 1024 * 1024;

// Streams a response body into the sink: as multipart, or as the one span
// it says (a 200 is the whole file from 0). Reading stops at the closing
// boundary: whatever follows is no part of the answer. *onePart tells that
// several ranges were answered with one span: used, but the host is one
// that serves one range per request.
Answer consume(ServerRequest& request, ResponseSink& sink, int64_t fileSize, int64_t rest, bool* onePart) {
    const DWORD status = requestStatusCode(request);
    std::string boundary;
    const bool multipart = status == 206 &&
                           multipartBoundary(responseHeader(request, WINHTTP_QUERY_CONTENT_TYPE), &boundary);
    MultipartReader reader(boundary);
    int64_t first = 0, last = 0;
    *onePart = !multipart && (status == 200 || status == 206);
    if (status == 200) {
        if (rest > kSmallRest) return kAnswerUnfit;
        sink.startSpan(0, fileSize - 1);
    } else if (status == 206 && !multipart) {
        if (!parseContentRange(responseHeader(request, WINHTTP_QUERY_CONTENT_RANGE), &first, &last)) return kAnswerUnfit;
        sink.startSpan(first, last);
    } else if (!multipart) {
        return unanswered(status);
    }
    // Blocks of 2 MiB: while the writer copies runs out of the installed
    // copy, the network fills up to 8 MiB ahead instead of stalling.
    BodyPrefetcher body(request.request, 2 * 1024 * 1024);
    if (!body.ok()) return kAnswerFailed;
    for (;;) {
        const char* block = nullptr;
        DWORD got = 0;
        const bool readable = body.next(&block, &got);
        if (readable && got == 0) break;
        const bool taken = multipart ? reader.feed(block, got, sink) : sink.onData(block, got);
        body.release();
        if (!taken) return kAnswerUnfit;
        if (multipart && reader.complete()) return kAnswerUsed;
        if (!readable) return kAnswerFailed;
    }
    return multipart && !reader.complete() ? kAnswerUnfit : kAnswerUsed;
}

// The fetched runs as single ranges, neighbours joined where the gap is
// cheaper than a request, cut into segments for several connections.
constexpr int64_t kJoinGap = 64 * 1024;

std::vector<ByteRange> fetchedSegments(const std::vector<DeltaRun>& runs) {
    std::vector<ByteRange> ranges;
    for (const DeltaRun& run : runs)
        if (!run.copy) ranges.push_back({run.target, run.target + run.length - 1});
    return cutSegments(joinNeighbours(ranges, kJoinGap), kSegmentBytes);
}

Answer fromSegments(SegmentsEnd end) {
    switch (end) {
    case kSegmentsDone: return kAnswerUsed;
    case kSegmentsFailed: return kAnswerFailed;
    case kSegmentsRefused: return kAnswerRefused;
    default: return kAnswerUnfit;
    }
}

// The object's last byte, asked before the first request of several ranges:
// a cache in front of the origin answers it only once it holds the whole
// object, so what follows finds it there (and, from a cold nginx cache,
// gets multipart rather than the whole file). Its answer tells nothing.
void warmEdge(const std::wstring& address, int64_t fileSize, DeltaStats* stats) {
    if (!isWarm(address)) warmObjects({{address, fileSize}}, &stats->requests);
}

// Last bytes asked on a thread of their own while the caller goes on (the
// objects warm already left out); joined when it goes out of scope.
class WarmingAhead {
public:
    WarmingAhead(const std::vector<LastByte>& objects, int* requests) : requests_(requests) {
        std::vector<LastByte> cold;
        for (const LastByte& o : objects)
            if (!isWarm(o.address)) cold.push_back(o);
        if (cold.empty()) return;
        try {
            thread_ = std::thread([this, cold] {
                setLogThread("warm-up");
                warmObjects(cold, &sent_);
            });
        } catch (...) {
            // no thread: each first fetch warms its object alone
        }
    }
    ~WarmingAhead() {
        if (thread_.joinable()) thread_.join();
        *requests_ += sent_;
    }
    WarmingAhead(const WarmingAhead&) = delete;
    WarmingAhead& operator=(const WarmingAhead&) = delete;

private:
    int* requests_;
    int sent_ = 0;
    std::thread thread_;
};

// Whether the file's fine map may be used: with the game's key, only one
// the signed manifest names.
bool fineMapWanted(const ManifestEntry& entry) {
    return entry.fineSha256[0] || gState.manifestKey.state == kNoManifestKey;
}

// From a host of one range per request every object sends a request alone
// before going wide. The fine map's goes out while the installed copies are
// scanned, on the connection the map came by; the file's beside the fine
// map's requests, on a connection of its own. Neither then costs a round
// trip of its own.
std::vector<LastByte> fineMapToWarm(const ManifestEntry& entry, const std::wstring& object, const BlockMap& map) {
    if (!servesOneRange(object) || !fineMapWanted(entry)) return {};
    return {{object + L".fine", fineMapBytes(map)}};
}
std::vector<LastByte> fileToWarm(const std::wstring& object, const BlockMap& map) {
    if (!servesOneRange(object)) return {};
    return {{object, map.fileSize}};
}

// One range per request, several requests at once, taken in file order.
Answer fetchRanges(const std::wstring& address, const std::vector<DeltaRun>& runs, PartWriter& writer,
                   int64_t fileSize, DeltaStats* stats) {
    ResponseSink sink(writer, runs, fileSize, stats, true);
    const SegmentsEnd end = fetchSegments(address.c_str(), fetchedSegments(runs),
                                          [&sink](int64_t at, const char* data, size_t size) {
                                              sink.startSpan(at, at + static_cast<int64_t>(size) - 1);
                                              return sink.onData(data, size);
                                          },
                                          &stats->requests);
    return fromSegments(end);
}

// Reads every seed once, for the blocks of every index. A seed that cannot
// be read is passed over (its blocks are fetched); false only when none could.
bool scanSeeds(PlannedSet& set) {
    std::vector<BlockIndex*> indexes;
    for (auto& index : set.indexes) indexes.push_back(index.get());
    bool any = false;
    for (int32_t seed = 0; static_cast<size_t>(seed) < set.seeds.size(); ++seed) {
        const HANDLE h = set.seeds.handle(seed);
        LARGE_INTEGER size;
        if (!h || !::GetFileSizeEx(h, &size)) continue;
        const std::string& name = set.seeds.name(seed);
        const size_t slash = name.rfind('/');
        wchar_t shown[200];
        const std::string base = name.substr(slash == std::string::npos ? 0 : slash + 1);
        utf8ToUtf16(base.data(), base.size(), shown, 200);
        setStatus(-1, L"Comparing the update with %ls", shown);
        any = scanSeed(indexes, seed, size.QuadPart, kScanPiece,
                       [&set, seed](int64_t at, uint8_t* out, size_t want) { return set.seeds.read(seed, at, out, want); }) ||
              any;
    }
    return any;
}

// "Paks/b.pak: reused 53 bytes (41 from Paks/a.pak, 12 from Paks/b.pak),
// fetched 1 bytes, 3 request(s)": which installed files it was built from.
std::wstring utf16(const std::string& text) {
    std::wstring out(text.size() + 1, L'\0');
    const long n = utf8ToUtf16(text.data(), text.size(), out.data(), out.size());
    out.resize(static_cast<size_t>(n > 0 ? n : 0));
    return out;
}

void report(const ManifestEntry& entry, const DeltaStats& stats) {
    std::wstring line = utf16(entry.path) + L": reused " + std::to_wstring(stats.reused) + L" bytes";
    const char* separator = " (";
    for (const auto& [name, bytes] : stats.reusedFrom) {
        line += utf16(separator) + std::to_wstring(bytes) + L" from " + utf16(name);
        separator = ", ";
    }
    if (!stats.reusedFrom.empty()) line += L")";
    line += L", fetched " + std::to_wstring(stats.fetched) + L" bytes, " + std::to_wstring(stats.requests) +
            L" request(s)";
    logEvent("delta %s", logUtf8(line).c_str());
    if (gDeltaObserver) gDeltaObserver(line.c_str());
}

// Bytes of an object fetched by range, kept by offset: the parts of the
// fine map a refinement needs.
class FetchedPieces : public MultipartSink {
public:
    bool onPart(int64_t first, int64_t) override {
        at_ = first;
        return true;
    }
    bool onData(const char* data, size_t size) override {
        std::string& piece = pieces_[at_];
        if (piece.size() + size > kFineMapLimit) return false;
        piece.append(data, size);
        bytes += static_cast<int64_t>(size);
        return true;
    }
    // In order, as fetchSegments hands them over: a piece continues where one ended.
    bool take(int64_t at, const char* data, size_t size) {
        for (auto& [first, piece] : pieces_)
            if (first + static_cast<int64_t>(piece.size()) == at) return at_ = first, onData(data, size);
        at_ = at;
        return onData(data, size);
    }
    // `length` bytes at `first`, when one piece holds them.
    const char* at(int64_t first, size_t length) const {
        auto it = pieces_.upper_bound(first);
        if (it == pieces_.begin()) return nullptr;
        --it;
        const int64_t offset = first - it->first;
        if (offset + static_cast<int64_t>(length) > static_cast<int64_t>(it->second.size())) return nullptr;
        return it->second.data() + offset;
    }
    int64_t bytes = 0;

private:
    static constexpr size_t kFineMapLimit = 16 * 1024 * 1024;
    std::map<int64_t, std::string> pieces_;
    int64_t at_ = 0;
};

// Sums are small and far apart: a gap is joined only where it costs about
// what a request's headers do.
constexpr int64_t kFineJoinGap = 1024;

// The ranges of `address` into `pieces`: in one multipart request per
// kRangesPerRequest where the host serves several ranges at once, else (or
// for one range) one range per request over several connections. False when the host
// answered otherwise (learnt for its next request of several ranges).
bool fetchPieces(const std::wstring& address, const std::vector<ByteRange>& ranges, FetchedPieces& pieces,
                 DeltaStats* stats) {
    // One range is one plain range request: its answer is a single part.
    const std::vector<ByteRange> joined = joinNeighbours(ranges, kFineJoinGap);
    if (servesOneRange(address) || joined.size() == 1) {
        const SegmentsEnd end = fetchSegments(address.c_str(), cutSegments(joined, kSegmentBytes),
                                              [&pieces](int64_t at, const char* data, size_t size) {
                                                  return pieces.take(at, data, size);
                                              },
                                              &stats->requests);
        stats->fetched += pieces.bytes;
        return end == kSegmentsDone;
    }
    for (size_t from = 0; from < ranges.size(); from += kRangesPerRequest) {
        const std::vector<ByteRange> group(ranges.begin() + static_cast<std::ptrdiff_t>(from),
                                           ranges.begin() + static_cast<std::ptrdiff_t>(std::min(ranges.size(), from + kRangesPerRequest)));
        ++stats->requests;
        ServerRequest request = openRangeRequest(address.c_str(), rangeHeaderValue(group));
        if (!request) return false;
        std::string boundary;
        const DWORD status = requestStatusCode(request);
        if (status != 206 || !multipartBoundary(responseHeader(request, WINHTTP_QUERY_CONTENT_TYPE), &boundary)) {
            if (group.size() > 1 && answerRefusesSeveralRanges(status, false)) learnOneRange(address);
            return false;  // a single part (one range asked) is rare enough to go without
        }
        const int64_t before = pieces.bytes;
        const ByteBuffer raw = readResponseBody(request, kBodyChunk, 16 * 1024 * 1024);
        MultipartReader reader(boundary);
        if (!raw || !reader.feed(raw.data, raw.size, pieces) || !reader.complete()) return false;
        gState.bytesFromNetwork += pieces.bytes - before;
        stats->fetched += pieces.bytes - before;
    }
    return true;
}

// At most this many blocks are refined per file: each costs its sums
// (perBlock x 4 bytes) and a read of one or two blocks of the copy.
constexpr size_t kMostRefined = 4096;
constexpr int64_t kRefineWorth = 64 * 1024;
constexpr int64_t kRefineShare = 8;  // one range a request: at least an eighth of what is fetched

// Where the scan left blocks unfound beside found ones (a small edit), the
// fine map's sums of just those blocks, and the sub-blocks the copy still
// holds at the neighbours' places. Nothing when the host has no fine map.
FineMatches refineWithFineMap(const std::wstring& object, const BlockMap& map, const BlockIndex& index, size_t which,
                              SeedSet& seeds, DeltaStats* stats) {
    FineMatches matches;
    const std::vector<FineCandidate> candidates = fineCandidates(map, index, 0, kMostRefined, which);
    // Another request pays off only where the blocks it may save are worth
    // more. From a host of one range per request the sums take a request
    // each, several rounds at 100 ms of round trip: there they must also be
    // a fair share of what the file fetches anyway.
    const int64_t worth = static_cast<int64_t>(candidates.size()) * map.blockSize;
    if (worth < kRefineWorth) return matches;
    if (servesOneRange(object + L".fine")) {
        int64_t fetched = 0;
        for (const DeltaRun& run : planDelta(map, index, 0, nullptr, which)) fetched += run.copy ? 0 : run.length;
        if (worth * kRefineShare < fetched) return matches;
    }
    FineMapShape shape = fineMapShape(map);
    std::vector<ByteRange> ranges{{0, static_cast<int64_t>(kFineMapHeader) - 1}};
    for (const FineCandidate& c : candidates) ranges.push_back(fineSumsOf(shape, c.block));
    FetchedPieces pieces;
    const std::wstring address = object + L".fine";
    const char* header = nullptr;
    if (!fetchPieces(address, joinNeighbours(ranges, 0), pieces, stats) ||
        !(header = pieces.at(0, kFineMapHeader)) || !readFineMapHeader(header, kFineMapHeader, map, &shape))
        return matches;
    matches.subBlock = shape.subBlock;
    const SeedReader read = [&seeds](int32_t seed, int64_t at, uint8_t* out, size_t want) {
        return seeds.read(seed, at, out, want);
    };
    std::vector<uint32_t> sums(shape.perBlock);
    for (const FineCandidate& c : candidates) {
        const ByteRange range = fineSumsOf(shape, c.block);
        const char* bytes = pieces.at(range.first, sums.size() * 4);
        if (!bytes) continue;
        for (size_t j = 0; j < sums.size(); ++j) {
            const auto* b = reinterpret_cast<const uint8_t*>(bytes + 4 * j);
            sums[j] = b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
        }
        // A block's last sum is its weak sum in the map, which the signed
        // manifest vouches for: sums that disagree describe other bytes (an
        // older file's, say), and none of that fine map is used.
        if (lowBytes(sums.back(), map.weakBytes) != map.weak[static_cast<size_t>(c.block)]) {
            logEvent("fine map %s: block %lld disagrees with the block map: not used", logUtf8(address).c_str(),
                     static_cast<long long>(c.block));
            return FineMatches();
        }
        std::vector<SeedPlace> found = matchSubBlocks(map, shape, sums.data(), c, read);
        if (!found.empty()) matches.blocks[c.block] = std::move(found);
    }
    return matches;
}

// The plan of `entry`: the pass's, where prepareSeeds made one, else this
// run's earlier one for the same installed copy, else its map fetched and
// the installed copy at its path scanned now, as its one seed.
PlannedSet* plannedSet(const ManifestEntry& entry, const std::wstring& object, const wchar_t* installed,
                       DeltaStats* stats) {
    if (gPass.find(entry.sha1)) return &gPass;
    if (gSingle.find(entry.sha1) && gSingleInstalled == installed) return &gSingle;
    gSingle = PlannedSet();
    gSingleInstalled = installed;
    if (::GetFileAttributesW(installed) == INVALID_FILE_ATTRIBUTES) return nullptr;
    PlannedFile file;
    file.sha1 = entry.sha1;
    if (!fetchMap(entry, object, &file.map, stats)) return nullptr;
    gSingle.seeds.add(installed, entry.path);
    gSingle.indexes.push_back(std::make_unique<BlockIndex>(file.map));
    file.index = gSingle.indexes.back().get();
    gSingle.files.push_back(std::move(file));
    WarmingAhead warming(fineMapToWarm(entry, object, gSingle.files.back().map), &stats->requests);
    if (!scanSeeds(gSingle)) {
        gSingle = PlannedSet();
        return nullptr;
    }
    setStatus(-1, L"Downloading %ls", shownName(entry).c_str());
    return &gSingle;
}

}  // namespace

void prepareSeeds(const std::vector<DeltaTarget>& targets, const std::vector<Seed>& seeds) {
    gPass = PlannedSet();
    for (const DeltaTarget& t : targets) {
        if (t.entry->size < kDeltaThreshold || !hexHash(t.entry->sha1) || gPass.find(t.entry->sha1)) continue;
        PlannedFile file;
        file.sha1 = t.entry->sha1;
        DeltaStats stats;
        // A failure ends the fetching here: a source that is down must not
        // cost a time-out per file before anything downloads. The rest are
        // planned alone at their turn, from the source chosen then.
        if (!fetchMap(*t.entry, t.address, &file.map, &stats)) break;
        file.mapRequests = stats.requests;
        gPass.files.push_back(std::move(file));
    }
    if (gPass.files.empty()) return;
    // One index per block size, over the maps of that size.
    for (PlannedFile& file : gPass.files) {
        if (file.index) continue;
        std::vector<const BlockMap*> same;
        for (PlannedFile& other : gPass.files)
            if (!other.index && other.map.blockSize == file.map.blockSize && other.map.checkBytes == file.map.checkBytes)
                same.push_back(&other.map);
        gPass.indexes.push_back(std::make_unique<BlockIndex>(same));
        size_t which = 0;
        for (PlannedFile& other : gPass.files)
            if (!other.index && other.map.blockSize == file.map.blockSize && other.map.checkBytes == file.map.checkBytes) {
                other.index = gPass.indexes.back().get();
                other.which = which++;
            }
    }
    for (const Seed& seed : seeds) gPass.seeds.add(seed.path, seed.name);
    // The first file's fine map (the others' warm before their fine maps).
    const DeltaTarget& first = *std::find_if(targets.begin(), targets.end(), [](const DeltaTarget& t) {
        return t.entry->sha1 == gPass.files.front().sha1;
    });
    int warmRequests = 0;
    bool scanned = false;
    {
        WarmingAhead warming(fineMapToWarm(*first.entry, first.address, gPass.files.front().map), &warmRequests);
        scanned = scanSeeds(gPass);
        setStatus(-1, L"Downloading...");  // the scan ended; a warm-up may still be on its way
    }
    if (!scanned) gPass = PlannedSet();
    else gPass.files.front().mapRequests += warmRequests;
}

bool isSeed(const wchar_t* path) {
    for (size_t i = 0; i < gPass.seeds.size(); ++i)
        if (_wcsicmp(gPass.seeds.path(static_cast<int32_t>(i)).c_str(), path) == 0) return true;
    return false;
}

bool plannedForPass(const char* sha1) { return gPass.find(sha1) != nullptr; }

int64_t plannedFetchBytes(const char* sha1) {
    const PlannedFile* file = gPass.find(sha1);
    if (!file || !file->index) return -1;
    int64_t fetched = 0;
    for (const DeltaRun& run : planDelta(file->map, *file->index, 0, nullptr, file->which))
        fetched += run.copy ? 0 : run.length;
    return fetched;
}

void forgetSeeds() { gPass = PlannedSet(); }

void refuseFineMap(const char* sha1) { gFineRefused.insert(sha1); }

namespace {

// More than this differs: the source sent another file, not a wrong byte.
constexpr int64_t kMostMended = 16 * 1024 * 1024;

// The blocks of the part file that do not have the map's sums, joined where
// they touch; false when the file cannot be read or too much differs.
bool blocksOffMap(const BlockMap& map, HANDLE part, std::vector<ByteRange>* off) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(part, start, nullptr, FILE_BEGIN)) return false;
    std::vector<uint8_t> block(map.blockSize);
    int64_t differing = 0;
    for (int64_t b = 0; b < map.blocks(); ++b) {
        const DWORD length = map.blockLength(b);
        DWORD got = 0;
        if (!::ReadFile(part, block.data(), length, &got, nullptr) || got != length) return false;
        if (blockMatchesMap(map, b, block.data(), length)) continue;
        const int64_t first = b * static_cast<int64_t>(map.blockSize);
        if (!off->empty() && off->back().last + 1 == first) off->back().last += length;
        else off->push_back({first, first + length - 1});
        if ((differing += length) > kMostMended) return false;
    }
    return true;
}

bool writeAt(HANDLE part, int64_t at, const char* data, size_t size) {
    LARGE_INTEGER pos;
    pos.QuadPart = at;
    DWORD done = 0;
    return ::SetFilePointerEx(part, pos, nullptr, FILE_BEGIN) &&
           ::WriteFile(part, data, static_cast<DWORD>(size), &done, nullptr) && done == size;
}

}  // namespace

bool mendByMap(const ManifestEntry& entry, const std::wstring& address, HANDLE part, DeltaStats* stats) {
    BlockMap map;
    std::vector<ByteRange> off;
    if (entry.size < kDeltaThreshold || !hexHash(entry.sha1) || !fetchMap(entry, address, &map, stats) ||
        !blocksOffMap(map, part, &off) || off.empty())
        return false;
    FetchedPieces pieces;
    if (!fetchPieces(address, off, pieces, stats)) return false;
    for (const ByteRange& r : off) {
        const size_t length = static_cast<size_t>(r.last - r.first + 1);
        const char* bytes = pieces.at(r.first, length);
        if (!bytes || !writeAt(part, r.first, bytes, length)) return false;
    }
    logEvent("mended %s: %zu range(s) differed from its map, %lld bytes fetched again", entry.path, off.size(),
             static_cast<long long>(pieces.bytes));
    return true;
}

void forgetDeltaState() {
    gFineRefused.clear();
    gPass = PlannedSet();
    gSingle = PlannedSet();
    gSingleInstalled.clear();
    forgetRangeHosts();
    forgetWarmObjects();
}

DeltaOutcome fetchByDelta(const ManifestEntry& entry, const std::wstring& address, const wchar_t* installed,
                          HANDLE part, int64_t* have, Sha1Hash* written, DeltaStats* stats) {
    if (entry.size < kDeltaThreshold || !hexHash(entry.sha1)) return kDeltaUnavailable;
    PlannedSet* set = plannedSet(entry, address, installed, stats);
    PlannedFile* file = set ? set->find(entry.sha1) : nullptr;
    if (!file) return kDeltaUnavailable;
    stats->requests += file->mapRequests;
    file->mapRequests = 0;
    if (gFineRefused.count(entry.sha1)) {
        file->fine = FineMatches();
        file->refined = true;
    }
    if (!file->refined) {
        WarmingAhead warming(fileToWarm(address, file->map), &stats->requests);
        if (fineMapWanted(entry))
            file->fine = refineWithFineMap(address, file->map, *file->index, file->which, set->seeds, stats);
        file->refined = true;
    }
    stats->usedFineMap = !file->fine.blocks.empty();
    const BlockMap& map = file->map;
    BlockIndex* index = file->index;
    PartWriter writer(part, set->seeds, have, written, stats);
    // Forgets the plan when this ends for good: an index can be large.
    auto forget = [set, &entry] {
        if (set == &gSingle) {
            gSingle = PlannedSet();
        } else {
            auto& files = set->files;
            for (auto it = files.begin(); it != files.end(); ++it)
                if (it->sha1 == entry.sha1) {
                    it->fine = FineMatches();
                    break;
                }
        }
    };
    struct CopiesForgotten {
        ~CopiesForgotten() { gState.copyBytesLeft = 0; }  // however this ends
    } forgotten;
    bool warmed = false, firstPlan = true;
    while (*have < entry.size) {
        const std::vector<DeltaRun> runs = planDelta(map, *index, *have, &file->fine, file->which);
        int64_t copies = 0;
        for (const DeltaRun& run : runs) copies += run.copy ? run.length : 0;
        // Nothing of it is installed anywhere: a plain download in segments
        // over every connection beats one request of one range.
        if (copies == 0 && firstPlan && file->fine.blocks.empty()) {
            logEvent("delta %s: nothing to reuse, fetched whole", entry.path);
            forget();
            return kDeltaGaveUp;
        }
        firstPlan = false;
        gState.copyBytesLeft = copies;
        if (!copyLeading(writer, runs)) return kDeltaFailed;
        if (*have >= entry.size) break;
        const int64_t before = *have;
        bool onePart = false, several = false;
        Answer answer = kAnswerUnfit;
        if (servesOneRange(address)) {
            answer = fetchRanges(address, runs, writer, entry.size, stats);
        } else {
            const std::vector<std::vector<ByteRange>> requests = rangeRequests(runs, kRangesPerRequest);
            several = requests.front().size() > 1;
            if (several && !warmed) warmEdge(address, entry.size, stats);
            warmed = true;
            ServerRequest request = openRangeRequest(address.c_str(), rangeHeaderValue(requests.front()));
            ++stats->requests;
            if (!request) return kDeltaFailed;
            ResponseSink sink(writer, runs, entry.size, stats);
            answer = consume(request, sink, entry.size, entry.size - *have, &onePart);
        }
        // Several ranges answered any other way than multipart: this host
        // serves one range per request, from now on and for a day.
        if (several && (answer == kAnswerUnfit || onePart)) learnOneRange(address);
        if (answer == kAnswerFailed) {
            report(entry, *stats);
            return kDeltaFailed;  // the next attempt goes on from this scan
        }
        if (answer == kAnswerUsed && *have > before) continue;
        if (several && answer == kAnswerUnfit) continue;  // now one range at a time
        // One range refused or misanswered, or another 4xx: ranges are no use here.
        report(entry, *stats);
        forget();
        return kDeltaGaveUp;
    }
    report(entry, *stats);
    forget();  // kept only for a retry
    return kDeltaComplete;
}
