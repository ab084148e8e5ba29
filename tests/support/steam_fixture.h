// A fake Steam client for tests: real registry values under HKCU (restored
// afterwards) and real Steam files in a temporary folder.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace steamfix {

// Saves SteamPath and ActiveUser as they were and puts them back on exit.
class SteamRegistry {
public:
    SteamRegistry();
    ~SteamRegistry();
    SteamRegistry(const SteamRegistry&) = delete;
    SteamRegistry& operator=(const SteamRegistry&) = delete;

    void setPath(const std::wstring& path);
    void setActiveUser(DWORD user);
    // Raw writes for wrong types and odd sizes.
    void setRaw(bool activeUser, DWORD type, const void* data, DWORD bytes);
    void clear();

private:
    struct Saved {
        bool present = false;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    Saved path_, user_;
};

// An empty folder for a Steam installation, as a Windows path.
std::wstring steamFolder(const char* name);
void writeSteamFile(const std::wstring& steamFolder, const std::string& relative, const std::string& bytes);

std::string loginUsers(const std::vector<std::pair<std::string, std::string>>& accounts);  // id, PersonaName
std::string localConfig(long long playtime, long long lastPlayed);

}  // namespace steamfix
