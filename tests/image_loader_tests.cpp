// The image loader in-process against the test server: real GDI+ decoding,
// the real "banner.img" and real Steam registry values.
#include <doctest/doctest.h>

#include <string>

#include "core/launcher_state.h"
#include "render/images_win.h"
#include "steam/image_loader.h"
#include "steam/steam_stats.h"
#include "tests/support/release_signer.h"
#include "tests/support/sandbox.h"
#include "tests/support/steam_fixture.h"
#include "tests/support/test_images.h"
#include "tests/support/test_server_client.h"
#include "tests/support/wide_strings.h"
#include "trust/release.h"

namespace {

const std::string kPng(reinterpret_cast<const char*>(kPng6x4), sizeof kPng6x4);
const std::string kJpeg(reinterpret_cast<const char*>(kJpeg8x6), sizeof kJpeg8x6);

struct LoaderFixture {
    steamfix::SteamRegistry registry;  // no Steam unless a test sets one up
    Gdiplus::GpImage* original = nullptr;
    std::wstring bannerFile;
    sandbox::PostSink window;
    explicit LoaderFixture(const char* name) {
        static bool gdiplus = (startGdiplus(), true);
        (void)gdiplus;
        testsrv::useServer();
        sandbox::useFolders(name);
        gState.mainWindow = window.hwnd;
        registry.clear();
        bannerFile = std::wstring(gState.dataFolder) + L"\\banner.img";
        sandbox::writeFile(bannerFile, kJpeg);  // the banner of an earlier run
        REQUIRE(loadSavedBanner());
        original = gState.bannerImage.get();
    }
    ~LoaderFixture() { ::SetFileAttributesW(bannerFile.c_str(), FILE_ATTRIBUTE_NORMAL); }

    unsigned bannerWidth() {
        unsigned w = 0, h = 0;
        LockHolder hold(gImageLock);
        imageSize(gState.bannerImage, &w, &h);
        return w;
    }
    void expectBannerUnchanged() {
        CHECK(gState.bannerImage.get() == original);
        CHECK(sandbox::readFile(bannerFile) == kJpeg);
        CHECK_FALSE(sandbox::exists(bannerFile + L".tmp"));
    }
};

}  // namespace

TEST_CASE("a valid banner replaces the one on screen and is saved byte for byte") {
    LoaderFixture f("banner-ok");
    CHECK(f.bannerWidth() == 8);
    testsrv::putFile("banner.img", kPng);
    loadServerBanner(nullptr);
    CHECK(f.bannerWidth() == 6);
    CHECK(sandbox::readFile(f.bannerFile) == kPng);
    CHECK(f.window.drain() == 1);  // the swap
    CHECK(testsrv::requests().size() == 1);
}

TEST_CASE("banners that must change nothing") {
    LoaderFixture f("banner-bad");
    testsrv::putFile("banner.img", kPng);
    SUBCASE("404") { testsrv::setRules(R"([{"path": "/launcher/banner", "status": 404}])"); }
    SUBCASE("an HTML page with status 200") {
        testsrv::setRules(R"([{"path": "/launcher/banner", "body": "<html><body>Bad Gateway</body></html>"}])");
    }
    SUBCASE("an empty body") { testsrv::setRules(R"([{"path": "/launcher/banner", "body": ""}])"); }
    SUBCASE("a body cut off mid-way: the connection drops after 50 bytes") {
        testsrv::setRules(R"([{"path": "/launcher/banner", "cut_after": 50}])");
    }
    SUBCASE("a header declaring absurd dimensions") {
        std::string huge = kPng;
        huge[17] = static_cast<char>(0x01);  // width 65,542
        testsrv::putFile("banner.img", huge);
    }
    SUBCASE("the server is down") {
        testsrv::setRules(R"([{"path": "/launcher/banner", "drop": true}])");
    }
    loadServerBanner(nullptr);
    f.expectBannerUnchanged();
    CHECK(f.window.drain() == 0);  // nothing changed, nothing to repaint
}

TEST_CASE("a read-only banner.img: the new banner is shown, the file stays") {
    LoaderFixture f("banner-readonly");
    ::SetFileAttributesW(f.bannerFile.c_str(), FILE_ATTRIBUTE_READONLY);
    testsrv::putFile("banner.img", kPng);
    loadServerBanner(nullptr);
    CHECK(f.bannerWidth() == 6);
    CHECK(sandbox::readFile(f.bannerFile) == kJpeg);
    CHECK_FALSE(sandbox::exists(f.bannerFile + L".tmp"));
}

TEST_CASE("a 40 MiB body is cut just below 32 MiB and used as far as it decodes") {
    LoaderFixture f("banner-big");
    testsrv::putFile("banner.img", kPng + std::string(40 * 1024 * 1024, '\0'));
    loadServerBanner(nullptr);
    // The cut body still starts with a whole PNG, so it decodes, is shown,
    // and is saved as it was received: within the last 64 KiB below 32 MiB.
    CHECK(f.bannerWidth() == 6);
    int64_t saved = sandbox::fileSize(f.bannerFile);
    CHECK(saved <= 32LL * 1024 * 1024);
    CHECK(saved > 32LL * 1024 * 1024 - 65536);
}

TEST_CASE("the avatar named by Steam is decoded; without Steam there is none") {
    LoaderFixture f("avatar");
    std::wstring steam = steamfix::steamFolder("avatar");
    SUBCASE("with Steam") {
        f.registry.setPath(steam);
        steamfix::writeSteamFile(steam, "config/loginusers.vdf", steamfix::loginUsers({{"76561198000000001", "Ana"}}));
        steamfix::writeSteamFile(steam, "config/avatarcache/76561198000000001.png", kPng);
        imageLoader(nullptr);
        CHECK(steamStatsSnapshot().valid == 1);
        unsigned w = 0, h = 0;
        CHECK(imageSize(gState.avatarImage, &w, &h));
        CHECK(w == 6);
    }
    SUBCASE("with Steam but an avatar that is not a picture") {
        f.registry.setPath(steam);
        steamfix::writeSteamFile(steam, "config/loginusers.vdf", steamfix::loginUsers({{"76561198000000001", "Ana"}}));
        steamfix::writeSteamFile(steam, "config/avatarcache/76561198000000001.png", "not a picture");
        imageLoader(nullptr);
        CHECK_FALSE(gState.avatarImage);
    }
    SUBCASE("without Steam") {
        imageLoader(nullptr);
        CHECK(steamStatsSnapshot().valid == 0);
        CHECK_FALSE(gState.avatarImage);
        CHECK(f.window.drain() >= 1);
    }
    CHECK(gSteamStatsLoaded);
}

TEST_CASE("with a key, only a banner a signed release names is saved, and only such a saved banner is decoded") {
    LoaderFixture f("loader-signed-banner");
    signer::useTestKey();
    CHECK_FALSE(loadSavedBanner());  // saved before the key: nothing vouches for it

    ObjectRef object;
    object.size = static_cast<int64_t>(kPng.size());
    const std::string name = signer::putObject(kPng).substr(0, 64);
    for (int i = 0; i < 32; ++i) object.sha256[i] = static_cast<uint8_t>(std::stoi(name.substr(2 * i, 2), nullptr, 16));
    testsrv::putFile("launcher/o/" + name, kJpeg);  // a man in the middle's picture at the signed address
    CHECK_FALSE(loadServerBanner(&object));
    f.expectBannerUnchanged();

    testsrv::putFile("launcher/o/" + name, kPng);
    CHECK(loadServerBanner(&object));
    CHECK(sandbox::readFile(f.bannerFile) == kPng);
    CHECK(f.bannerWidth() == 6);
    CHECK_FALSE(loadSavedBanner());  // no release kept yet names it
    const std::string release = signer::signRelease(signer::releaseHead(5, name + " 1", name + " 1") + "banner " +
                                                    name + " " + std::to_string(kPng.size()) + "\n");
    sandbox::writeFile(std::wstring(gState.dataFolder) + L"\\release.txt", release);
    CHECK(loadSavedBanner());
}
