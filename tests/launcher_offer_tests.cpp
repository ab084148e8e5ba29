// The launcher's look at its own offer, in-process against the test server,
// with releases signed by the tests' own key.
#include <doctest/doctest.h>

#include <windows.h>

#include <string>

#include "core/launcher_state.h"
#include "tests/support/release_signer.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_server_client.h"
#include "trust/release_floor.h"
#include "update/launcher_update_win.h"

namespace {

const std::string kBuild = "hello";  // the offered exe

std::wstring gLastLine;
void remember(const wchar_t* line) { gLastLine = line; }

int objectRequests() {
    int n = 0;
    for (const auto& r : testsrv::requests()) n += r.target.rfind("/launcher/o/", 0) == 0;
    return n;
}

struct OfferFixture {
    std::string release;
    OfferFixture() {
        testsrv::useServer();
        sandbox::useFolders("launcher-offer");
        signer::useTestKey();
        release = offering(7, 2, signer::putObject(kBuild));
        testsrv::clearLog();
        gLauncherOfferObserver = remember;
        gLauncherExePath = std::wstring(gState.dataFolder) + L"\\TVLLauncher.exe";
        sandbox::writeFile(gLauncherExePath, "the running launcher");
    }
    ~OfferFixture() {
        gLauncherOfferObserver = nullptr;
        gLauncherExePath.clear();
    }
    static std::string offering(int version, int launcherVersion, const std::string& object) {
        return signer::signRelease(signer::releaseHead(version, std::string(64, 'a') + " 1", std::string(64, 'b') + " 1") +
                                   "launcher " + std::to_string(launcherVersion) + " " + object + "\n");
    }
};

}  // namespace

TEST_CASE("an offer is prepared beside the exe with its release, and only where the folder can be written") {
    OfferFixture f;
    const std::wstring exe = gLauncherExePath;
    gLauncherExePath = std::wstring(gState.dataFolder) + L"\\no such folder\\TVLLauncher.exe";
    checkLauncherOffer(f.release);
    CHECK(gLastLine == L"version 2 offered, signed, but the launcher's folder is not writable");
    CHECK(objectRequests() == 0);

    gLauncherExePath = exe;
    checkLauncherOffer(f.release);
    CHECK(gLastLine == L"version 2 offered, signed, prepared");
    CHECK(sandbox::readFile(exe + L".new") == kBuild);
    CHECK(sandbox::readFile(exe + L".new.release") == f.release);
    CHECK_FALSE(sandbox::exists(exe + L".new.probe"));
    LauncherOffer kept;
    CHECK(keptOffer(exe + L".new.release", &kept));
    checkLauncherOffer(f.release);
    CHECK(gLastLine == L"version 2 offered, signed, not newer than version 2");

    // The floor rises past the release that offered it: the swap no longer trusts it.
    saveReleaseFloor(8, 0);
    CHECK_FALSE(keptOffer(exe + L".new.release", &kept));
    discardPreparedLauncher(preparedLauncherFor(exe));
    CHECK_FALSE(sandbox::exists(exe + L".new"));
    CHECK_FALSE(sandbox::exists(exe + L".new.release"));
}

TEST_CASE("an offer whose object differs, or a release signed over other bytes, leaves nothing behind") {
    OfferFixture f;
    const std::string other = signer::putObject("not the build");
    const std::string wrong = OfferFixture::offering(7, 2, other.substr(0, 65) + std::to_string(kBuild.size()));
    checkLauncherOffer(wrong);
    CHECK(gLastLine == L"version 2 offered, signed, but its object does not match its size and SHA-256");
    std::string forged = f.release;
    forged.replace(forged.find("launcher 2"), 10, "launcher 3");
    checkLauncherOffer(forged);
    CHECK(gLastLine == L"offered, but the release is not signed with the game's key or is malformed");
    CHECK_FALSE(sandbox::exists(gLauncherExePath + L".new"));
    CHECK_FALSE(sandbox::exists(gLauncherExePath + L".new.release"));
}
