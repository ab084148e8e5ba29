// "TVLLauncher.ini" beside the program: only "server=" lines count.
#pragma once

#include <cstddef>

// One line as the reader hands it over (at most 199 bytes, maybe with its
// line end). When it is a "server=" line whose value fits, writes the value
// into host and returns true. A value too long for host is refused whole:
// a cut host name would quietly point at another server.
bool readServerLine(const char* line, size_t length, wchar_t* host, size_t hostUnits);

// Reads the configuration file at `path` into gState.serverHost; the last
// accepted line wins, and without one the host stays as it was.
void loadConfigFile(const wchar_t* path);
