#include "net/http_client.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "core/event_log.h"
#include "core/event_log_win.h"
#include "core/kernel_handle_win.h"
#include "core/launcher_state.h"
#include "core/wait_seam.h"
#include "net/rate_limit.h"
#include "net/sources_win.h"

std::atomic<int64_t> gConnectionsOpened{0};

namespace {

// What one request did, for its log line. Found by the id the request
// handle carries as its context value: a read or a callback that comes
// after the request was done with finds nothing, rather than freed memory.
struct RequestNote {
    std::wstring address;
    std::string range;
    uint64_t startMs = 0;
    DWORD status = 0;
    std::atomic<int64_t> bytes{0};
    std::atomic<DWORD> error{0};      // what ended it early
    std::atomic<bool> tooSlow{false};
    int64_t announced = -1;              // Content-Length, when there is one
    std::atomic<bool> endedShort{false};  // the body ended before it
    std::atomic<bool> connected{false};  // a connection was opened for it
};

// Never destroyed: threads left running may still finish a request while
// the process ends.
std::mutex& gNotesLock = *new std::mutex;
std::unordered_map<uint64_t, std::shared_ptr<RequestNote>>& gNotes =
    *new std::unordered_map<uint64_t, std::shared_ptr<RequestNote>>;
std::atomic<uint64_t> gNextNoteId{1};

std::shared_ptr<RequestNote> noteOf(uint64_t id) {
    if (!id) return nullptr;
    std::lock_guard<std::mutex> hold(gNotesLock);
    auto found = gNotes.find(id);
    return found == gNotes.end() ? nullptr : found->second;
}

RequestLogLine startNote(const wchar_t* address, const std::wstring& range) {
    auto note = std::make_shared<RequestNote>();
    note->address = address;
    for (wchar_t c : range.size() > 7 ? range.substr(7) : std::wstring()) note->range.push_back(c < 128 ? static_cast<char>(c) : '?');
    note->startMs = ::GetTickCount64();
    const uint64_t id = gNextNoteId++;
    std::lock_guard<std::mutex> hold(gNotesLock);
    gNotes.emplace(id, std::move(note));
    return RequestLogLine(id);
}

uint64_t noteIdOf(HINTERNET request) {
    DWORD_PTR id = 0;
    DWORD size = sizeof id;
    return ::WinHttpQueryOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &id, &size) ? static_cast<uint64_t>(id) : 0;
}

void writeRequestLine(const RequestNote& n) {
    const uint64_t ms = ::GetTickCount64() - n.startMs;
    std::string line = "GET " + logUtf8(n.address);
    if (!n.range.empty()) line += " " + n.range;
    line += " from " + logUtf8(addressHost(n.address.c_str())) + ": ";
    if (!n.status) {
        line += "no answer in " + std::to_string(ms) + " ms";
        if (n.error) line += ": " + describeError(n.error);
        logEvent("%s", line.c_str());
        return;
    }
    line += std::to_string(n.status) + ", " + std::to_string(n.bytes.load()) + " bytes in " + std::to_string(ms) + " ms, " +
            (n.connected ? "new connection" : "reused connection");
    if (n.tooSlow) line += ", too slow: given up";
    else if (n.error) line += ", broke off: " + describeError(n.error);
    else if (n.endedShort) line += ", ended before its Content-Length of " + std::to_string(n.announced) + ": the connection closed";
    logEvent("%s", line.c_str());
}

void CALLBACK noteConnection(HINTERNET, DWORD_PTR context, DWORD status, void*, DWORD) {
    if (status != WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER) return;
    ++gConnectionsOpened;
    if (auto note = noteOf(context)) note->connected = true;
}

}  // namespace

RequestLogLine& RequestLogLine::operator=(RequestLogLine&& other) noexcept {
    if (this != &other) {
        RequestLogLine done(std::move(*this));
        id_ = other.id_;
        other.id_ = 0;
    }
    return *this;
}

RequestLogLine::~RequestLogLine() {
    if (!id_) return;
    std::shared_ptr<RequestNote> note;
    {
        std::lock_guard<std::mutex> hold(gNotesLock);
        auto found = gNotes.find(id_);
        if (found == gNotes.end()) return;
        note = std::move(found->second);
        gNotes.erase(found);
    }
    writeRequestLine(*note);
}

namespace {

// The ini's proxy= line overrides Windows: a named proxy is the one way
// WinHTTP follows a proxy under Wine (one set on an open handle is ignored).
HINTERNET openSessionFor(const ProxySetting& proxy) {
    if (proxy.kind == kProxyDirect)
        return ::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (proxy.kind == kProxyHttp) {
        const std::string shown = shownProxy(proxy);  // "http://host:port", never the credentials
        const std::wstring name(shown.begin() + 7, shown.end());
        return ::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, name.c_str(), WINHTTP_NO_PROXY_BYPASS, 0);
    }
    HINTERNET session = ::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session)
        session = ::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, 0);
    return session;
}

}  // namespace

void openHttpSession() {
    HINTERNET session = openSessionFor(gState.proxy);
    if (gState.proxy.kind != kProxySystem) logEvent("network: %s, from TVLLauncher.ini", shownProxy(gState.proxy).c_str());
    if (session) {
        ::WinHttpSetTimeouts(session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs);
        ::WinHttpSetStatusCallback(session, noteConnection, WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER, 0);
    }
    gState.httpSession = session;
}

namespace {

// One send-and-wait-for-headers, shared with the pool thread that makes it.
struct HeadersCall {
    HINTERNET request = nullptr;
    std::wstring key;  // the address and range, while the call is left behind
    KernelHandle done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::mutex lock;
    bool abandoned = false;  // the caller gave up before the call began
    std::atomic<bool> ok{false};
    std::atomic<DWORD> error{0};
};

// Calls the caller gave up on while they still wait in WinHTTP. Under Wine
// closing the request does not end such a call: it holds its pool thread and
// its socket for as long as the host trickles. So beside one such call the
// same request may go out once more (one stuck connection must not cut the
// launcher off), but never a third time: a poll every 20 s would otherwise
// stack a thread and a connection on each. Never destroyed, like the notes.
constexpr size_t kMostLeftPerRequest = 2;
std::mutex& gLeftLock = *new std::mutex;
std::unordered_multimap<std::wstring, std::shared_ptr<HeadersCall>>& gLeft =
    *new std::unordered_multimap<std::wstring, std::shared_ptr<HeadersCall>>;

void forgetLeftCall(const std::shared_ptr<HeadersCall>& call) {
    std::lock_guard<std::mutex> hold(gLeftLock);
    const auto range = gLeft.equal_range(call->key);
    for (auto it = range.first; it != range.second; ++it)
        if (it->second == call) {
            gLeft.erase(it);
            return;
        }
}

bool tooManyLeft(const std::wstring& key) {
    std::lock_guard<std::mutex> hold(gLeftLock);
    return gLeft.count(key) >= kMostLeftPerRequest;
}

void CALLBACK makeHeadersCall(PTP_CALLBACK_INSTANCE, void* context) {
    std::unique_ptr<std::shared_ptr<HeadersCall>> held(static_cast<std::shared_ptr<HeadersCall>*>(context));
    HeadersCall& call = **held;
    {
        std::lock_guard<std::mutex> hold(call.lock);
        if (call.abandoned) {
            forgetLeftCall(*held);
            return;  // its handle may be closed, even reused, by now
        }
    }
    call.ok = ::WinHttpSendRequest(call.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
              ::WinHttpReceiveResponse(call.request, nullptr);
    if (!call.ok) call.error = ::GetLastError();
    ::SetEvent(call.done.get());
    forgetLeftCall(*held);
}

// Sends the request and waits at most kHeadersLimitMs for its headers. The
// call runs on a pool thread so that it can be left behind: the caller then
// closes the request, which cancels the call on Windows; under Wine it ends
// only when the host stops sending or WinHTTP's own time-out passes. `key`
// names the request: two left behind block the same request until one ends.
bool sendWithinHeadersLimit(HINTERNET request, const std::wstring& key, DWORD* error) {
    *error = ERROR_WINHTTP_TIMEOUT;
    if (tooManyLeft(key)) return false;  // the earlier ones have no headers yet either
    auto call = std::make_shared<HeadersCall>();
    call->request = request;
    call->key = key;
    *error = ERROR_NOT_ENOUGH_MEMORY;
    if (!call->done) return false;
    auto* context = new std::shared_ptr<HeadersCall>(call);
    if (!::TrySubmitThreadpoolCallback(makeHeadersCall, context, nullptr)) {
        delete context;
        return false;
    }
    if (::WaitForSingleObject(call->done.get(), scaledSpanMs(kHeadersLimitMs)) == WAIT_OBJECT_0) {
        *error = call->error;
        return call->ok;
    }
    {
        std::lock_guard<std::mutex> hold(gLeftLock);
        gLeft.emplace(key, call);
    }
    std::lock_guard<std::mutex> hold(call->lock);
    call->abandoned = true;
    if (::WaitForSingleObject(call->done.get(), 0) == WAIT_OBJECT_0) forgetLeftCall(call);  // it ended meanwhile
    *error = ERROR_WINHTTP_TIMEOUT;  // our own limit on the headers
    return false;
}

}  // namespace

namespace {

// Where a request goes: a path ("/...") is the configured host's on 443; a
// mirror's object comes as "https://host:port/path", as sourceAddress
// builds it from an address the release reader checked.
struct RequestTarget {
    std::wstring host;
    INTERNET_PORT port = kServerPort;
    const wchar_t* path = nullptr;
};

bool targetOf(const wchar_t* address, RequestTarget* t) {
    constexpr wchar_t kScheme[] = L"https://";
    if (std::wcsncmp(address, kScheme, 8) != 0) {
        t->host = gState.serverHost;
        t->path = address;
        return address[0] == L'/';
    }
    const wchar_t* host = address + 8;
    const wchar_t* colon = std::wcschr(host, L':');
    const wchar_t* slash = std::wcschr(host, L'/');
    if (!colon || !slash || colon > slash) return false;
    t->host.assign(host, colon);
    t->port = static_cast<INTERNET_PORT>(std::wcstoul(colon + 1, nullptr, 10));
    t->path = slash;
    return t->port != 0;
}

// The Content-Length of an answer by its leading digits, at most INT64_MAX;
// -1 without one.
int64_t announcedLength(HINTERNET request) {
    wchar_t text[32];
    DWORD size = sizeof text;
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                               WINHTTP_NO_HEADER_INDEX))
        return -1;
    int64_t length = 0;
    for (const wchar_t* c = text; *c >= L'0' && *c <= L'9'; ++c) {
        if (length > (INT64_MAX - 9) / 10) return INT64_MAX;
        length = length * 10 + (*c - L'0');
    }
    return length;
}

// With another source to move to, an object's request waits at most
// kStallMs for each step, so a stalled source is left within seconds.
void limitStall(HINTERNET request, const wchar_t* path) {
    if (sourceCount() < 2 || !std::wcsstr(path, L"/launcher/o/")) return;
    ::WinHttpSetTimeouts(request, kStallMs, kStallMs, kStallMs, kStallMs);
}

// GET `address`, with `range` as the whole "Range: ..." header line when not empty.
ServerRequest openRequest(const wchar_t* address, const std::wstring& range) {
    ServerRequest r;
    RequestTarget target;
    if (!gState.httpSession || !targetOf(address, &target)) return r;
    r.logLine = startNote(address, range);
    const std::shared_ptr<RequestNote> note = noteOf(r.logLine.id());
    r.connection = WinHttpHandle(::WinHttpConnect(gState.httpSession, target.host.c_str(), target.port, 0));
    if (!r.connection) {
        if (note) note->error = ::GetLastError();
        return r;
    }
    WinHttpHandle request(::WinHttpOpenRequest(r.connection.get(), L"GET", target.path, nullptr, WINHTTP_NO_REFERER,
                                               WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request) return {};
    DWORD_PTR id = static_cast<DWORD_PTR>(r.logLine.id());
    ::WinHttpSetOption(request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &id, sizeof id);
    DWORD flags = kIgnoreCertificateProblems;
    if (!::WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags))) return {};
    // A 3xx is an answer like any other: followed, it would take the bytes
    // from an address no release named, under the configured host's name.
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    if (!::WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects)) return {};
    if (!range.empty() && !::WinHttpAddRequestHeaders(request.get(), range.c_str(), static_cast<DWORD>(range.size()),
                                                      WINHTTP_ADDREQ_FLAG_ADD))
        return {};
    limitStall(request.get(), target.path);
    r.sentMs = ::GetTickCount64();
    DWORD error = 0;
    if (!sendWithinHeadersLimit(request.get(), std::wstring(address) + L"|" + range, &error)) {
        if (note) note->error = error;
        return ServerRequest{std::move(r.logLine), {}, {}, 0};  // logged as it goes
    }
    r.request = std::move(request);
    if (note) {
        note->status = requestStatusCode(r);
        note->announced = announcedLength(r.request.get());
    }
    return r;
}

}  // namespace

ServerRequest openServerRequest(const wchar_t* path, int64_t resumeOffset) {
    return openRequest(path, resumeOffset >= 1 ? L"Range: bytes=" + std::to_wstring(resumeOffset) + L"-" : L"");
}

ServerRequest openRangeRequest(const wchar_t* path, const std::string& rangeValue) {
    return openRequest(path, L"Range: " + std::wstring(rangeValue.begin(), rangeValue.end()));
}

std::string responseHeader(const ServerRequest& request, DWORD infoLevel) {
    wchar_t text[512];
    DWORD size = sizeof text;
    if (!::WinHttpQueryHeaders(request.request.get(), infoLevel, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                               WINHTTP_NO_HEADER_INDEX))
        return {};
    std::string out;
    for (DWORD i = 0; i < size / sizeof(wchar_t); ++i) out.push_back(text[i] < 128 ? static_cast<char>(text[i]) : '?');
    return out;
}

DWORD requestStatusCode(const ServerRequest& request) {
    DWORD status = 0, size = sizeof(status);
    if (!::WinHttpQueryHeaders(request.request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return 0;
    return status;
}

void guardBody(HINTERNET request, SlowBodyGuard& guard) {
    const uint32_t span = scaledSpanMs(kSlowBodySpanMs);
    // Set as all four time-outs of the request: Wine applies a receive
    // time-out alone only to the next request's connection, not this one.
    // Never longer than the request was given (a stall limit stays).
    DWORD given = kReceiveTimeoutMs, size = sizeof given;
    ::WinHttpQueryOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &given, &size);
    if (span < given)
        ::WinHttpSetTimeouts(request, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, static_cast<int>(span));
    startSlowBodyGuard(guard, ::GetTickCount64(), span, kSlowBodyMinBytes);
}

// Each piece asks only for what has arrived: a read for more than that waits
// (under Wine) until the whole buffer is full, however slowly it fills, and
// the rule could never step in. A piece gathers arrivals for at most this
// long, so a slow line still shows progress.
constexpr uint64_t kPieceGatherMs = 200;

namespace {

// What the last failed read on this thread said, for the request's log line.
thread_local DWORD tReadError = 0;

BodyPiece readPieceOf(HINTERNET request, SlowBodyGuard& guard, void* buffer, DWORD size, DWORD* got) {
    *got = 0;
    const uint64_t started = ::GetTickCount64();
    while (*got < size) {
        DWORD available = 0, read = 0;
        bool ok = ::WinHttpQueryDataAvailable(request, &available) != 0;
        if (ok && available > 0) {
            DWORD want = available < size - *got ? available : size - *got;
            // Under a speed limit each read stays well within the bucket, so
            // no burst runs ahead of it.
            if (gState.speedLimit > 0 && want > kBodyChunk) want = kBodyChunk;
            ok = ::WinHttpReadData(request, static_cast<char*>(buffer) + *got, want, &read) != 0;
        }
        if (!ok) {
            tReadError = ::GetLastError();
            read = 0;
        }
        // Every byte from the network goes through the one limit: documents,
        // maps, multipart headers and read-ahead alike.
        throttleNetwork(read);
        const uint64_t now = ::GetTickCount64();
        if (!slowBodyGuardAllows(guard, now, read)) return kBodyTooSlow;
        if (!ok) return kBodyReadError;
        if (read == 0) return *got ? kBodyData : kBodyEnd;
        *got += read;
        if (now - started >= kPieceGatherMs) break;
    }
    return kBodyData;
}

}  // namespace

BodyPiece readBodyPiece(HINTERNET request, SlowBodyGuard& guard, void* buffer, DWORD size, DWORD* got) {
    const BodyPiece piece = readPieceOf(request, guard, buffer, size, got);
    if (const auto note = noteOf(noteIdOf(request))) {
        note->bytes += *got;
        if (piece == kBodyTooSlow) note->tooSlow = true;
        if (piece == kBodyReadError) note->error = tReadError;
        if (piece == kBodyEnd && note->announced >= 0 && note->bytes < note->announced) note->endedShort = true;
    }
    return piece;
}

namespace {

// A body that announces more than kSmallDocumentBytes is no small document:
// the slow-retrieval rule alone holds for it. Without a length, its first
// kSmallDocumentBytes must come within the limit.
bool announcedLarge(HINTERNET request) {
    return announcedLength(request) > static_cast<int64_t>(kSmallDocumentBytes);
}

}  // namespace

ByteBuffer readResponseBody(const ServerRequest& request, size_t firstCapacity, size_t growLimit) {
    SlowBodyGuard guard;
    guardBody(request.request.get(), guard);
    const bool small = !announcedLarge(request.request.get());
    // `capacity` counts the bytes for the body; one more is always there for
    // the terminating zero byte.
    size_t capacity = firstCapacity, length = 0;
    char* body = static_cast<char*>(std::malloc(capacity + 1));
    while (body) {
        if (length + kBodyChunk > capacity) {
            if (capacity > growLimit) break;  // long enough: the rest is dropped
            char* grown = static_cast<char*>(std::realloc(body, capacity * 2 + 1));
            if (!grown) {
                std::free(body);
                body = nullptr;  // too large to hold: as if nothing answered
                break;
            }
            body = grown;
            capacity *= 2;
        }
        DWORD got = 0;
        BodyPiece piece = readBodyPiece(request.request.get(), guard, body + length, static_cast<DWORD>(kBodyChunk), &got);
        const bool late = small && piece == kBodyData && length + got <= kSmallDocumentBytes &&
                          ::GetTickCount64() - request.sentMs >= scaledSpanMs(kDocumentLimitMs);
        if (piece == kBodyTooSlow || late) {
            std::free(body);  // as if nothing answered
            body = nullptr;
            break;
        }
        length += got;
        if (piece != kBodyData) break;  // a read error ends the body where it stopped
    }
    if (!body) return {};
    return ByteBuffer::adopt(body, length);
}

ByteBuffer fetchServerDocument(const wchar_t* path, DWORD* status, size_t limit, bool* brokeOff) {
    ServerRequest r = openServerRequest(path, 0);
    if (!r) return {};
    DWORD code = requestStatusCode(r);
    // The buffer stops growing once past the limit, so a longer body shows as one.
    ByteBuffer body = readResponseBody(r, kBodyChunk, limit);
    if (!body || body.size > limit) return {};
    *status = code;
    if (brokeOff) {
        const auto note = noteOf(r.logLine.id());
        *brokeOff = note && (note->error != 0 || note->endedShort);
    }
    return body;
}

size_t requestsLeftWaiting() {
    std::lock_guard<std::mutex> hold(gLeftLock);
    return gLeft.size();
}

std::wstring addressHost(const wchar_t* address) {
    RequestTarget target;
    if (!targetOf(address, &target)) return {};
    return target.port == kServerPort ? target.host : target.host + L":" + std::to_wstring(target.port);
}
