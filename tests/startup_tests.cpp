// Start-up's steps before the window, with LOCALAPPDATA pointed at a test
// folder: the data folders, the install flag and the banner it shows first.
#include <doctest/doctest.h>

#include <windows.h>

#include <string>

#include "core/launcher_state.h"
#include "app/startup.h"
#include "steam/image_loader.h"
#include "render/images_win.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_images.h"
#include "tests/support/wide_strings.h"

namespace {

// A local application-data folder of its own for the duration of a test.
struct LocalAppData {
    std::wstring folder, before;
    explicit LocalAppData(const std::wstring& path) : folder(path) {
        wchar_t old[MAX_PATH] = L"";
        ::GetEnvironmentVariableW(L"LOCALAPPDATA", old, MAX_PATH);
        before = old;
        ::CreateDirectoryW(folder.c_str(), nullptr);
        ::SetEnvironmentVariableW(L"LOCALAPPDATA", folder.c_str());
        resetLauncherState();
    }
    ~LocalAppData() {
        ::SetEnvironmentVariableW(L"LOCALAPPDATA", before.c_str());
        resetLauncherState();
    }
    std::wstring data() const { return folder + L"\\UE4TVL"; }
};

std::wstring testRoot(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring root = std::wstring(temp) + L"tvl-startup-" + name;
    ::CreateDirectoryW(root.c_str(), nullptr);
    return root;
}

std::string utf8(const std::wstring& text) {
    std::string out(text.size() * 3, '\0');
    out.resize(::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                     static_cast<int>(out.size()), nullptr, nullptr));
    return out;
}

unsigned bannerWidth() {
    unsigned w = 0, h = 0;
    imageSize(gState.bannerImage, &w, &h);
    return w;
}

}  // namespace

TEST_CASE("the first banner: banner.img when it decodes, else the built-in one, as the loader puts them in place") {
    LocalAppData local(testRoot(L"banner"));
    const std::wstring saved = local.data() + L"\\banner.img";
    SUBCASE("a saved banner") {
        sandbox::writeFile(saved, std::string(reinterpret_cast<const char*>(kPng6x4), sizeof kPng6x4));
        prepareLauncher();
        loadStartupPictures();
        CHECK(bannerWidth() == 6);
    }
    SUBCASE("an error page saved as banner.img") {
        sandbox::writeFile(saved, "<html><body>502 Bad Gateway</body></html>");
        prepareLauncher();
        loadStartupPictures();
        CHECK(bannerWidth() == 3400);
    }
    SUBCASE("an empty banner.img") {
        sandbox::writeFile(saved, "");
        prepareLauncher();
        loadStartupPictures();
        CHECK(bannerWidth() == 3400);
    }
    CHECK(gState.backgroundImage);
    CHECK(gState.logoImage);
    ::DeleteFileW(saved.c_str());
}

TEST_CASE("installed.txt decides between INSTALL and UPDATE") {
    LocalAppData local(testRoot(L"installed"));
    const std::wstring record = local.data() + L"\\installed.txt";
    ::DeleteFileW(record.c_str());
    prepareLauncher();
    CHECK(std::wstring(gState.dataFolder) == local.data());
    CHECK(std::wstring(gState.gameFolder) == local.data() + L"\\Game");
    CHECK(sandbox::exists(gState.gameFolder));
    CHECK(gState.gameInstalled == 0);
    sandbox::writeFile(record, "version=3\n");
    prepareLauncher();
    CHECK(gState.gameInstalled == 1);
}

TEST_CASE("settings.txt: the game folder and speed limit the player chose apply at the next start") {
    LocalAppData local(testRoot(L"settings"));
    const std::wstring settings = local.data() + L"\\settings.txt";
    const std::wstring moved = testRoot(L"settings") + L"\\Spiele\\Terval\u00f3n";
    ::CreateDirectoryW(local.data().c_str(), nullptr);
    sandbox::writeFile(settings, "speed_limit=5\ngame_folder=" + utf8(moved) + "\n");
    prepareLauncher();
    CHECK(std::wstring(gState.gameFolder) == moved);
    CHECK(sandbox::exists(moved));
    CHECK(gState.speedLimit == 5 * 1048576);
    sandbox::writeFile(settings, "speed_limit=fast\ngame_folder=\n");
    prepareLauncher();
    CHECK(std::wstring(gState.gameFolder) == local.data() + L"\\Game");
    CHECK(gState.speedLimit == 0);
}

TEST_CASE("a LOCALAPPDATA too long for the game folder falls back to C:\\, as an unset one does") {
    std::wstring tooLong = testRoot(L"long");
    while (tooLong.size() < 250) tooLong += L"\\deeper";
    tooLong.resize(250);  // 250 + "\\UE4TVL\\Game" would pass 259 units
    LocalAppData local(tooLong);
    SUBCASE("too long") {}
    SUBCASE("unset") { ::SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr); }
    prepareLauncher();
    CHECK(std::wstring(gState.dataFolder) == L"C:\\UE4TVL");
    CHECK(std::wstring(gState.gameFolder) == L"C:\\UE4TVL\\Game");
}
