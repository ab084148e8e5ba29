#include <cstdio>
#include <cstring>

#include "core/config_file.h"
#include "core/launcher_state.h"

void loadConfigFile(const wchar_t* path, std::optional<std::string>* key) {
    FILE* f = ::_wfopen(path, L"r");
    if (!f) return;
    // Pieces of at most 199 bytes: a longer line arrives as several, each a line of its own.
    char line[200];
    std::string value;
    while (std::fgets(line, sizeof line, f)) {
        readServerLine(line, std::strlen(line), gState.serverHost, kServerHostUnits);
        if (key && readKeyLine(line, std::strlen(line), &value)) *key = value;
    }
    std::fclose(f);
}
