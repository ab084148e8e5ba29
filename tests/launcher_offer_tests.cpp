// The launcher's look at its own offer, in-process against the test server,
// with an offer signed by openssl beforehand (key and signature below).
#include <doctest/doctest.h>

#include <windows.h>

#include <string>

#include "core/launcher_state.h"
#include "update/launcher_update_win.h"
#include "update/signing_formats.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_server_client.h"

namespace {

const std::string kKey = "z6JxQS6/3GiDy4I+Y9GpaZW7WVPKVq8omqnBMK26IH955qxKidzZoPuI6wpisP4S5kk9vi2oy2RBqRZSjlwFYw==";
const std::string kOffer =
    "{\"version\": 2, \"size\": 5, \"sha256\": \"2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824\"}\n";
const std::string kSignature = "IGKSvFzN2Dvq/HLlVQJUHRRK8RzopFcM57U8LFxcgGHhSNtzH6h3dQ4/QmIiSMERuebtrJYSU8X3o6DUSU0ZQw==\n";
const std::string kBuild = "hello";  // what the offer's size and SHA-256 describe

std::wstring gLastLine;
void remember(const wchar_t* line) { gLastLine = line; }

int exeRequests() {
    int n = 0;
    for (const auto& r : testsrv::requests()) n += r.target == "/launcher/self.exe";
    return n;
}

struct OfferFixture {
    OfferFixture() {
        resetLauncherState();
        testsrv::useServer();
        sandbox::useFolders("launcher-offer");
        testsrv::putFile("launcher/self", kOffer);
        testsrv::putFile("launcher/self.sig", kSignature);
        testsrv::putFile("launcher/self.exe", kBuild);
        testsrv::clearLog();
        REQUIRE(decodeManifestKey(kKey.data(), kKey.size(), gState.manifestKey.xy));
        gState.manifestKey.state = kManifestKeyValid;
        gLauncherOfferObserver = remember;
    }
    ~OfferFixture() {
        gLauncherOfferObserver = nullptr;
        gLauncherExePath.clear();
    }
};

}  // namespace

TEST_CASE("an offer for a launcher whose folder cannot be written is not downloaded, and nothing is left") {
    OfferFixture f;
    gLauncherExePath = std::wstring(gState.dataFolder) + L"\\no such folder\\TVLLauncher.exe";
    checkLauncherOffer();
    CHECK(gLastLine == L"version 2 offered, signed, but the launcher's folder is not writable");
    CHECK(exeRequests() == 0);

    gLauncherExePath = std::wstring(gState.dataFolder) + L"\\TVLLauncher.exe";
    sandbox::writeFile(gLauncherExePath, "the running launcher");
    checkLauncherOffer();
    CHECK(gLastLine == L"version 2 offered, signed, prepared");
    CHECK(sandbox::readFile(gLauncherExePath + L".new") == kBuild);
    CHECK(sandbox::readFile(gLauncherExePath + L".new.self") == kOffer);
    CHECK_FALSE(sandbox::exists(gLauncherExePath + L".new.probe"));
    discardPreparedLauncher(preparedLauncherFor(gLauncherExePath));
    CHECK_FALSE(sandbox::exists(gLauncherExePath + L".new"));
}
