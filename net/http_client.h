// The launcher's only way to talk to its server: HTTPS GET to
// gState.serverHost on port 443 (and, for objects, to the mirrors the
// release names), through the one WinHTTP session of the process.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <string>
#include "core/byte_buffer.h"
#include "core/owned_handle.h"
#include "net/slow_body_guard.h"

inline void closeWinHttpHandle(HINTERNET h) { ::WinHttpCloseHandle(h); }
using WinHttpHandle = Owned<NullableTraits<HINTERNET, closeWinHttpHandle>>;

// The log line of one request, written when the request is done with:
// its address, source, status, bytes, time and connection. Move-only.
class RequestLogLine {
public:
    RequestLogLine() = default;
    explicit RequestLogLine(uint64_t id) : id_(id) {}
    RequestLogLine(RequestLogLine&& other) noexcept : id_(other.id_) { other.id_ = 0; }
    RequestLogLine& operator=(RequestLogLine&& other) noexcept;
    RequestLogLine(const RequestLogLine&) = delete;
    RequestLogLine& operator=(const RequestLogLine&) = delete;
    ~RequestLogLine();
    uint64_t id() const { return id_; }

private:
    uint64_t id_ = 0;
};

// The open response of one GET. Members close in reverse order: the request,
// then the connection it was opened on, then the log line with all it read.
struct ServerRequest {
    RequestLogLine logLine;
    WinHttpHandle connection;
    WinHttpHandle request;
    uint64_t sentMs = 0;  // GetTickCount64 when the request went out
    explicit operator bool() const { return static_cast<bool>(request); }
};

constexpr wchar_t kUserAgent[] = L"UE4TVLLauncher/2.0";
constexpr INTERNET_PORT kServerPort = 443;
constexpr DWORD kIgnoreCertificateProblems = 0x3300;
constexpr int kResolveTimeoutMs = 10000;
constexpr int kConnectTimeoutMs = 10000;
constexpr int kSendTimeoutMs = 15000;
constexpr int kReceiveTimeoutMs = 30000;
constexpr size_t kBodyChunk = 65536;
// With a mirror to move to, an object's request gives up after this long
// without a byte (connecting, sending, the headers or the body).
constexpr int kStallMs = 10000;

// WinHTTP's time-outs apply to each read, so a server that trickles a byte
// every 20 s would hold a request forever. The status line and headers must
// arrive within this, and a document of at most kSmallDocumentBytes (info,
// signature, offer, banner) whole within kDocumentLimitMs of its request.
// One that announces a larger Content-Length has only the slow-retrieval
// rule; one without a length must bring its first kSmallDocumentBytes in time.
// Both are spans that --fast-waits divides. Missing one fails the fetch.
constexpr uint32_t kHeadersLimitMs = 30000;
constexpr uint32_t kDocumentLimitMs = 60000;
constexpr size_t kSmallDocumentBytes = 1024 * 1024;

// Connections the session opened this run (a request on a kept-alive one
// opens none): the figure TVLHeadless reports.
extern std::atomic<int64_t> gConnectionsOpened;

// Opens gState.httpSession and applies the four time-outs: through the ini's
// proxy (direct, or an HTTP proxy by name), else the automatic proxy, else
// the default proxy. Leaves it null when that fails.
void openHttpSession();

// Paths start with "/" and go to gState.serverHost on 443; an object of a
// mirror is asked by its whole address, "https://host:port/...".

// GET `path` with "Range: bytes=N-" when resumeOffset >= 1.
// Empty when there was no answer at all, or no whole status line and headers
// within kHeadersLimitMs; the status is not checked here.
ServerRequest openServerRequest(const wchar_t* path, int64_t resumeOffset);

// GET `path` with "Range: <rangeValue>" ("bytes=a-b,c-d"), as above.
ServerRequest openRangeRequest(const wchar_t* path, const std::string& rangeValue);

// Requests given up at the headers limit whose calls still wait in WinHTTP
// (under Wine they end only when the host stops). The same request goes out
// once more beside one of them, not beside two: it then fails at once, as
// if unanswered.
size_t requestsLeftWaiting();

// "host" or "host:port" of a path or address (the configured host for a path).
std::wstring addressHost(const wchar_t* address);

// A response header (WINHTTP_QUERY_CONTENT_TYPE, _CONTENT_RANGE) as ASCII;
// empty when it is missing or longer than 511 characters.
std::string responseHeader(const ServerRequest& request, DWORD infoLevel);

// The response's numeric status code, 0 when it cannot be read.
DWORD requestStatusCode(const ServerRequest& request);

// Starts the slow-retrieval rule for the body of `request`: from now on it
// must bring 16,384 bytes in every 60 s (a span that --fast-waits divides).
// A read that waits for nothing at all ends at the receive time-out, or at
// the span where that is shorter.
void guardBody(HINTERNET request, SlowBodyGuard& guard);

// Reads what has arrived of a body, up to `size` bytes, under the rule:
// data, the end of the body, a failed read (the body ends where it
// stopped), or a body too slow to go on with. *got counts the bytes that
// did arrive, also with the last two.
enum BodyPiece { kBodyData, kBodyEnd, kBodyReadError, kBodyTooSlow };
BodyPiece readBodyPiece(HINTERNET request, SlowBodyGuard& guard, void* buffer, DWORD size, DWORD* got);

// Reads a body into a buffer of firstCapacity bytes that doubles whenever a
// full read of 64 KiB would not fit, unless it is already larger than
// growLimit; then reading stops and the body is cut there.
// Empty when memory runs out, the body is too slow, or a document of at
// most kSmallDocumentBytes is still arriving kDocumentLimitMs after its
// request was sent.
ByteBuffer readResponseBody(const ServerRequest& request, size_t firstCapacity, size_t growLimit);

// No document of the launcher server comes near this (a manifest of 64 MiB
// lists some 400,000 files); a body past it is endless data, not a document.
constexpr size_t kDocumentLimit = 64 * 1024 * 1024;

// The whole body of GET `path`, whatever its status. Empty when there was no
// answer, the body was too slow (the rule above), longer than `limit`, or
// could not be held in memory; *status is then untouched. *brokeOff, when
// asked, tells a body that ended by a failed read or before its
// Content-Length: what came is all there is, but not all there was.
ByteBuffer fetchServerDocument(const wchar_t* path, DWORD* status, size_t limit = kDocumentLimit,
                               bool* brokeOff = nullptr);
