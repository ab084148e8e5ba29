// The scanners of the Steam client's loginusers.vdf and localconfig.vdf:
// other programs' files, possibly damaged or hand-edited.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "steam/steam_vdf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    uint32_t activeUser = 0;
    if (size >= 4) std::memcpy(&activeUser, data, 4);
    std::string_view vdf = vdfText(text, size);
    SteamAccount account = chooseSteamAccount(vdf, activeUser);
    if (account.personaName.size() > 127) std::abort();
    readPlayStats(vdf);
    readPlayStats(vdf, activeUser);
    return 0;
}
