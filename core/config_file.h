// "TVLLauncher.ini" beside the program: only "server=" and "manifest_key="
// lines count.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// One line as the reader hands it over (at most 199 bytes, maybe with its
// line end). When it is a "server=" line whose value fits, writes the value
// into host and returns true. A value too long for host is refused whole:
// a cut host name would quietly point at another server.
bool readServerLine(const char* line, size_t length, wchar_t* host, size_t hostUnits);

// When the line is a "manifest_key=" line, its value (up to the line end or
// a space) goes into *key, however malformed: judging it is the caller's.
// A line that only looks like one ("Manifest_Key =", a byte-order mark or
// blanks before it) counts too, with an empty value: a typo must make the
// key malformed, never quietly turn signing off.
bool readKeyLine(const char* line, size_t length, std::string* key);

// Reads the configuration file at `path` into gState.serverHost; the last
// accepted line wins, and without one the host stays as it was. The last
// key line's value goes into *key when there is one.
void loadConfigFile(const wchar_t* path, std::optional<std::string>* key = nullptr);
