// The real WinHTTP client against the real HTTPS test server on loopback.
#include <doctest/doctest.h>

#include "tests/support/wide_strings.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <thread>

#include "core/launcher_state.h"
#include "core/wait_seam.h"
#include "net/body_prefetch_win.h"
#include "net/http_client.h"
#include "tests/support/test_server_client.h"
#include "trust/release.h"
#include "update/download.h"
#include "update/update_worker.h"

namespace {

std::string readBody(const ServerRequest& r, size_t limit = SIZE_MAX) {
    std::string out;
    char chunk[65536];
    DWORD got = 0;
    while (out.size() < limit && ::WinHttpReadData(r.request.get(), chunk, sizeof chunk, &got) && got > 0)
        out.append(chunk, got);
    return out;
}

std::string fetchText(const wchar_t* path, DWORD* status) {
    ByteBuffer b = fetchServerDocument(path, status);
    REQUIRE(b);
    CHECK(b.data[b.size] == 0);
    return std::string(b.data, b.size);
}

}  // namespace

namespace {

int threadsOfThisProcess() {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    REQUIRE(snapshot != INVALID_HANDLE_VALUE);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == ::GetCurrentProcessId();
    ::CloseHandle(snapshot);
    return count;
}

void waitUntilNoneLeft() {
    for (int i = 0; i < 300 && requestsLeftWaiting() > 0; ++i) ::Sleep(100);
    REQUIRE(requestsLeftWaiting() == 0);
}

}  // namespace

TEST_CASE("session and request shape: user agent, Range only from offset 1, certificate for another host") {
    testsrv::useServer();
    REQUIRE(gState.httpSession != nullptr);
    std::string file = testsrv::randomBytes(1000, 1);
    testsrv::putFile("files/data.bin", file);

    ServerRequest whole = openServerRequest(L"/launcher/file?p=data.bin", 0);
    REQUIRE(whole);
    CHECK(requestStatusCode(whole) == 200);
    CHECK(readBody(whole) == file);

    ServerRequest resumed = openServerRequest(L"/launcher/file?p=data.bin", 1);
    REQUIRE(resumed);
    CHECK(requestStatusCode(resumed) == 206);
    CHECK(readBody(resumed) == file.substr(1));

    ServerRequest negative = openServerRequest(L"/launcher/file?p=data.bin", -5);
    REQUIRE(negative);
    CHECK(requestStatusCode(negative) == 200);

    auto log = testsrv::requests();
    REQUIRE(log.size() == 3);
    CHECK(log[0].range.empty());
    CHECK(log[1].range == "bytes=1-");
    CHECK(log[2].range.empty());
    for (auto& r : log) CHECK(r.agent == "UE4TVLLauncher/2.0");
}

TEST_CASE("fetchServerDocument returns body and status whatever the status") {
    testsrv::useServer();
    testsrv::putFile("info.json", "{\"version\": 7}");
    DWORD status = 0;
    CHECK(fetchText(L"/launcher/info", &status) == "{\"version\": 7}");
    CHECK(status == 200);

    testsrv::setRules(R"([{"path": "/launcher/info", "status": 404, "body": "no such thing"}])");
    CHECK(fetchText(L"/launcher/info", &status) == "no such thing");
    CHECK(status == 404);

    testsrv::setRules(R"([{"path": "/launcher/manifest", "status": 503, "body": ""}])");
    CHECK(fetchText(L"/launcher/manifest", &status).empty());
    CHECK(status == 503);

    // A 3xx is an answer, never followed: a host cannot send launchers to
    // another address, and the log names where the bytes came from.
    const std::wstring host = testsrv::host();
    for (const char* code : {"301", "302", "307", "308"}) {
        CAPTURE(code);
        testsrv::clearLog();
        testsrv::setRules(std::string(R"([{"path": "/launcher/manifest", "status": )") + code +
                          R"(, "body": "moved", "location": "https://)" + std::string(host.begin(), host.end()) + R"(/launcher/info"}])");
        CHECK(fetchText(L"/launcher/manifest", &status) == "moved");
        CHECK(std::to_string(status) == code);
        CHECK(testsrv::requests().size() == 1);
    }
}

TEST_CASE("bodies of several megabytes, slow bodies and bodies cut off mid-way") {
    testsrv::useServer();
    std::string big = testsrv::randomBytes(5 * 1024 * 1024 + 123, 2);
    testsrv::putFile("manifest.json", big);
    DWORD status = 0;
    CHECK(fetchText(L"/launcher/manifest", &status) == big);

    SUBCASE("slow") {
        testsrv::putFile("info.json", std::string(3000, 'a'));
        testsrv::setRules(R"([{"path": "/launcher/info", "chunk": 500, "delay_ms": 100}])");
        CHECK(fetchText(L"/launcher/info", &status) == std::string(3000, 'a'));
    }
    SUBCASE("cut off: the caller gets what arrived, with the status") {
        testsrv::setRules(R"([{"path": "/launcher/manifest", "cut_after": 300000}])");
        std::string got = fetchText(L"/launcher/manifest", &status);
        CHECK(status == 200);
        CHECK(got.size() <= 300000);
        CHECK(got == big.substr(0, got.size()));
    }
}

TEST_CASE("an endless body can be left early: closing the request does not hang") {
    testsrv::useServer();
    testsrv::setRules(R"([{"path": "/launcher/banner", "endless": true}])");
    ServerRequest r = openServerRequest(L"/launcher/banner", 0);
    REQUIRE(r);
    CHECK(readBody(r, 1024 * 1024).size() >= 1024 * 1024);
    r = ServerRequest{};  // closes request and connection
    DWORD status = 0;
    testsrv::putFile("info.json", "ok");
    CHECK(fetchText(L"/launcher/info", &status) == "ok");
}

TEST_CASE("two threads share the session at the same time") {
    testsrv::useServer();
    std::string a = testsrv::randomBytes(2 * 1024 * 1024, 3), b = testsrv::randomBytes(1024 * 1024, 4);
    testsrv::putFile("manifest.json", a);
    testsrv::putFile("banner.img", b);
    std::string gotA, gotB;
    DWORD sa = 0, sb = 0;
    std::thread t([&] {
        for (int i = 0; i < 3; ++i) gotA = fetchText(L"/launcher/manifest", &sa);
    });
    for (int i = 0; i < 3; ++i) gotB = fetchText(L"/launcher/banner", &sb);
    t.join();
    CHECK(gotA == a);
    CHECK(gotB == b);
    CHECK(sa == 200);
    CHECK(sb == 200);
}

TEST_CASE("no answer: none, and the status is left as the caller preset it") {
    testsrv::useServer();
    DWORD status = 777;
    SUBCASE("server down") {
        wcscpy(gState.serverHost, L"127.0.0.250");  // nothing listens there
        DWORD start = ::GetTickCount();
        CHECK_FALSE(fetchServerDocument(L"/launcher/info", &status));
        CHECK(::GetTickCount() - start < static_cast<DWORD>(kResolveTimeoutMs + kConnectTimeoutMs));
        CHECK_FALSE(openServerRequest(L"/launcher/info", 5));
    }
    SUBCASE("no session") {
        gState.httpSession = nullptr;
        CHECK_FALSE(fetchServerDocument(L"/launcher/info", &status));
    }
    CHECK(status == 777);
}

TEST_CASE("waits run fast in tests only through the seam; the product's constants stay") {
    CHECK(gWaitSeam.divisor == 1);
    CHECK(kRetryPollMs == 100);
    CHECK(kUnreachablePauses == 301);
    CHECK(kNotSetUpPauses == 601);
    CHECK(kPreparingPauses == 151);
    CHECK(kReadyPollMs == 20000);
    CHECK(kFailedPassPauseMs == 1500);
    CHECK(kDiskSpaceMargin == 268435456);
    CHECK(kAttemptPauseMs == 2000);
    CHECK(kDownloadAttempts == 3);
}

TEST_CASE("client constants are the ones the server owners were promised") {
    CHECK(std::wstring(kUserAgent) == L"UE4TVLLauncher/2.0");
    CHECK(kServerPort == 443);
    CHECK(kIgnoreCertificateProblems == (SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
                                         SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID));
    CHECK(kResolveTimeoutMs == 10000);
    CHECK(kConnectTimeoutMs == 10000);
    CHECK(kSendTimeoutMs == 15000);
    CHECK(kReceiveTimeoutMs == 30000);
}

TEST_CASE("a document that trickles or stalls fails at the slow-retrieval span, not never") {
    testsrv::useServer();
    testsrv::putFile("manifest.json", std::string(100000, 'a'));
    gWaitSeam.divisor = 60;  // a span of 1 s
    SUBCASE("10 bytes every 100 ms, far below 16 KiB a span") {
        testsrv::setRules(R"([{"path": "/launcher/manifest", "chunk": 10, "delay_ms": 100}])");
    }
    SUBCASE("a first piece, then nothing for 20 s") {
        testsrv::setRules(R"([{"path": "/launcher/manifest", "chunk": 1000, "pause_after_first_ms": 20000}])");
    }
    DWORD status = 555;
    const DWORD start = ::GetTickCount();
    CHECK_FALSE(fetchServerDocument(L"/launcher/manifest", &status));
    const DWORD took = ::GetTickCount() - start;
    gWaitSeam.divisor = 1;
    CHECK(status == 555);  // a failed fetch, as if nothing answered
    CHECK(took >= 1000);
    CHECK(took < 10000);
}

TEST_CASE("an endless document fails past 64 MiB instead of filling memory; a release past 4 KiB at once") {
    testsrv::useServer();
    testsrv::setRules(R"([{"path": "/launcher/", "prefix": true, "endless": true}])");
    DWORD status = 555;
    CHECK_FALSE(fetchServerDocument(L"/launcher/manifest", &status));
    CHECK_FALSE(fetchServerDocument(L"/launcher/release", &status, kReleaseLimit));
    CHECK(status == 555);
    CHECK(kDocumentLimit == 64u * 1024 * 1024);
}

TEST_CASE("headers that trickle fail at the headers limit, a document still arriving at its limit fails") {
    testsrv::useServer();
    testsrv::putFile("info.json", std::string(65536, 'i'));
    gWaitSeam.divisor = 30;  // headers 1 s, documents 2 s, the slow-retrieval span 2 s
    SUBCASE("the status line and a header a byte every 200 ms for 5 s, then the rest") {
        testsrv::setRules(R"([{"path": "/launcher/info", "header_trickle_ms": 200, "header_trickle_for_ms": 5000}])");
    }
    SUBCASE("64 KiB in pieces of 16 KiB 0.7 s apart: fast enough for the slow rule, too late as a whole") {
        testsrv::setRules(R"([{"path": "/launcher/info", "chunk": 16384, "delay_ms": 700}])");
    }
    DWORD status = 555;
    CHECK_FALSE(fetchServerDocument(L"/launcher/info", &status));
    CHECK(status == 555);  // a failed fetch, as if nothing answered
    testsrv::setRules("[]");
    waitUntilNoneLeft();
    CHECK(fetchText(L"/launcher/info", &status).size() == 65536);  // and the next one goes through
    gWaitSeam.divisor = 1;
}

TEST_CASE("a host that trickles its headers holds two threads and connections at most, not one more per poll") {
    testsrv::useServer();
    testsrv::putFile("info.json", "{}");
    gWaitSeam.divisor = 30;  // headers 1 s
    testsrv::setRules(R"([{"path": "/launcher/info", "header_trickle_ms": 200, "header_trickle_for_ms": 8000}])");
    DWORD status = 555;
    CHECK_FALSE(fetchServerDocument(L"/launcher/info", &status));
    const int threads = threadsOfThisProcess();
    for (int poll = 0; poll < 6; ++poll) CHECK_FALSE(fetchServerDocument(L"/launcher/info", &status));
    CHECK(status == 555);
    CHECK(threadsOfThisProcess() <= threads + 2);
    CHECK(testsrv::requests().size() == 2);  // one more beside the first stuck one, then none
    CHECK(requestsLeftWaiting() == 2);
    // Once the host answers, the call ends and polls go out again.
    testsrv::setRules("[]");
    waitUntilNoneLeft();
    CHECK(fetchText(L"/launcher/info", &status) == "{}");
    gWaitSeam.divisor = 1;
}

TEST_CASE("a document that announces more than 1 MiB has only the slow-retrieval rule") {
    testsrv::useServer();
    testsrv::putFile("manifest.json", std::string(1536 * 1024, 'm'));
    testsrv::setRules(R"([{"path": "/launcher/manifest", "chunk": 393216, "delay_ms": 700}])");
    gWaitSeam.divisor = 30;  // 1.5 MiB over 2.8 s: past the 2 s document limit, far above 16 KiB a span
    DWORD status = 0;
    CHECK(fetchText(L"/launcher/manifest", &status).size() == 1536 * 1024);
    gWaitSeam.divisor = 1;
    testsrv::setRules("[]");
}

TEST_CASE("a reader that stops to write a long copy is no slow server: the rule counts again after its pause") {
    testsrv::useServer();
    gWaitSeam.divisor = 1000;  // the slow-body span at its floor of 1 s
    const std::string object(40, 'c');
    const std::string body = testsrv::randomBytes(12 * 1048576, 5);  // more than the read-ahead holds
    testsrv::putFile("launcher/o/" + object, body);
    bool readAhead = true;
    SUBCASE("with the read-ahead, which fills up and waits") {}
    SUBCASE("read inline") { readAhead = false; }
    ServerRequest request = openServerRequest((L"/launcher/o/" + std::wstring(object.begin(), object.end())).c_str(), 0);
    REQUIRE(request);
    std::string got;
    bool whole = true;
    {
        BodyPrefetcher reader(request.request, 1 << 20, readAhead);
        for (int i = 0;; ++i) {
            const char* block = nullptr;
            DWORD count = 0;
            whole = reader.next(&block, &count);
            if (!whole || count == 0) break;
            got.append(block, count);
            reader.release();
            if (i == 0) ::Sleep(1500);  // a copy out of the installed copy, longer than the span
        }
    }
    gWaitSeam.divisor = 1;
    CHECK(whole);
    CHECK(got == body);
}
