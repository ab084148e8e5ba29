// settings.txt as the launcher writes it, and as a crash, an editor or a
// later launcher may leave it.
#include <doctest/doctest.h>

#include <string>

#include "core/player_settings.h"

namespace {

PlayerSettings read(const std::string& text) { return readPlayerSettings(text.data(), text.size()); }

}  // namespace

TEST_CASE("settings read back as written; a spoiled line costs only itself") {
    PlayerSettings s;
    s.speedLimitMBps = 25;
    s.gameFolder = "D:\\Spiele\\Terval\xC3\xB3n";
    const PlayerSettings back = read(playerSettingsText(s));
    CHECK(back.speedLimitMBps == 25);
    CHECK(back.gameFolder == s.gameFolder);
    CHECK(read(playerSettingsText(PlayerSettings{})).gameFolder.empty());

    const PlayerSettings spoiled = read("speed_limit=5x\r\ngame_folder=D:\\Games\r\nlater_setting=1\n");
    CHECK(spoiled.speedLimitMBps == 0);
    CHECK(spoiled.gameFolder == "D:\\Games");  // CRLF from an editor, an unknown key skipped
    for (const char* bad : {"speed_limit=-1\n", "speed_limit=1001\n", "speed_limit=\n", "speed_limit= 5\n",
                            "speed_limit=99999999999999999999\n"})
        CHECK(read(bad).speedLimitMBps == 0);
    for (const std::string& bad : {std::string("game_folder=\n"), std::string("game_folder=D:\\\x01x\n"),
                                  std::string("game_folder=D:\\\xC3\n"), "game_folder=" + std::string(1025, 'a')})
        CHECK(read(bad).gameFolder.empty());
    // Only full paths: one relative to a drive's current folder, or to the
    // current drive, would install wherever the launcher was started from.
    for (const char* relative : {"game_folder=C:Tervalon\n", "game_folder=\\Games\\Tervalon\n",
                                 "game_folder=Games\\Tervalon\n", "game_folder=\\\\?\\C:\\Games\n"})
        CHECK(read(relative).gameFolder.empty());
    CHECK(read("game_folder=\\\\nas\\games\\Tervalon\n").gameFolder == "\\\\nas\\games\\Tervalon");
    CHECK(read(std::string(4097, '\n') + "speed_limit=5\n").speedLimitMBps == 0);  // no settings file is that long
    CHECK(read("speed_limit=5").speedLimitMBps == 5);                             // cut before its newline
}
