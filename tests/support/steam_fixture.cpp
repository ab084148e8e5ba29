#include "tests/support/steam_fixture.h"

#include <filesystem>

#include "tests/support/sandbox.h"

namespace steamfix {
namespace {

constexpr wchar_t kSteamKey[] = L"Software\\Valve\\Steam";
constexpr wchar_t kActiveKey[] = L"Software\\Valve\\Steam\\ActiveProcess";

const wchar_t* keyOf(bool activeUser) { return activeUser ? kActiveKey : kSteamKey; }
const wchar_t* nameOf(bool activeUser) { return activeUser ? L"ActiveUser" : L"SteamPath"; }

void save(bool activeUser, std::vector<BYTE>& data, DWORD& type, bool& present) {
    DWORD bytes = 0;
    present = ::RegGetValueW(HKEY_CURRENT_USER, keyOf(activeUser), nameOf(activeUser), RRF_RT_ANY | RRF_NOEXPAND,
                             &type, nullptr, &bytes) == ERROR_SUCCESS;
    if (!present) return;
    data.resize(bytes);
    ::RegGetValueW(HKEY_CURRENT_USER, keyOf(activeUser), nameOf(activeUser), RRF_RT_ANY | RRF_NOEXPAND, &type,
                   data.data(), &bytes);
}

void remove(bool activeUser) { ::RegDeleteKeyValueW(HKEY_CURRENT_USER, keyOf(activeUser), nameOf(activeUser)); }

}  // namespace

SteamRegistry::SteamRegistry() {
    save(false, path_.data, path_.type, path_.present);
    save(true, user_.data, user_.type, user_.present);
}

SteamRegistry::~SteamRegistry() {
    clear();
    if (path_.present) setRaw(false, path_.type, path_.data.data(), static_cast<DWORD>(path_.data.size()));
    if (user_.present) setRaw(true, user_.type, user_.data.data(), static_cast<DWORD>(user_.data.size()));
}

void SteamRegistry::setRaw(bool activeUser, DWORD type, const void* data, DWORD bytes) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, keyOf(activeUser), nameOf(activeUser), type, data, bytes);
}

void SteamRegistry::setPath(const std::wstring& path) {
    setRaw(false, REG_SZ, path.c_str(), static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
}

void SteamRegistry::setActiveUser(DWORD user) { setRaw(true, REG_DWORD, &user, sizeof(user)); }

void SteamRegistry::clear() {
    remove(false);
    remove(true);
}

std::wstring steamFolder(const char* name) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"tvl-tests\\steam-" + std::wstring(name, name + strlen(name));
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    sandbox::writeFile(folder + L"\\config\\.keep", "");
    return folder;
}

void writeSteamFile(const std::wstring& folder, const std::string& relative, const std::string& bytes) {
    std::wstring rel(relative.begin(), relative.end());
    for (auto& c : rel)
        if (c == L'/') c = L'\\';
    sandbox::writeFile(folder + L"\\" + rel, bytes);
}

std::string loginUsers(const std::vector<std::pair<std::string, std::string>>& accounts) {
    std::string s = "\"users\"\n{\n";
    for (auto& [id, name] : accounts)
        s += "\t\"" + id + "\"\n\t{\n\t\t\"AccountName\"\t\t\"acc\"\n\t\t\"PersonaName\"\t\t\"" + name +
             "\"\n\t\t\"MostRecent\"\t\t\"0\"\n\t}\n";
    return s + "}\n";
}

std::string localConfig(long long playtime, long long lastPlayed) {
    return "\"UserLocalConfigStore\"\n{\n\t\"Software\"\n\t{\n\t\t\"Valve\"\n\t\t{\n\t\t\t\"Steam\"\n\t\t\t{\n"
           "\t\t\t\t\"apps\"\n\t\t\t\t{\n\t\t\t\t\t\"2746150\"\n\t\t\t\t\t{\n\t\t\t\t\t\t\"LastPlayed\"\t\t\"" +
           std::to_string(lastPlayed) + "\"\n\t\t\t\t\t\t\"Playtime\"\t\t\"" + std::to_string(playtime) +
           "\"\n\t\t\t\t\t}\n\t\t\t\t}\n\t\t\t}\n\t\t}\n\t}\n}\n";
}

}  // namespace steamfix
