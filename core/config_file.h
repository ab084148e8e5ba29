// "TVLLauncher.ini" beside the program: only "server=", "manifest_key=" and
// "proxy=" lines count. Players and server owners make it with whatever editor they
// have, so UTF-8 (with or without a byte-order mark) and UTF-16 with a mark
// are all read. An ini that exists but cannot be read or decoded is an
// error of its own: the launcher never falls back to the defaults, because
// that would quietly turn signing off.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// What start-up found wrong with the configuration; the worker shows it as
// a LocalError and contacts no server.
enum ConfigProblem : int32_t {
    kConfigFine = 0,
    kConfigUnreadable = 1,  // exists, but could not be read in full (held by another program, no access)
    kConfigNotText = 2,     // not UTF-8 or UTF-16 text
    kConfigKeyDiffers = 3,  // a manifest_key= other than the key built into the launcher
    kConfigProxyMalformed = 4,  // a proxy= line that is no proxy the launcher can use
    kConfigProxyUnsupported = 5,  // a proxy with a user name or password, or SOCKS5: not yet followed
};

// The status line for a problem (empty for kConfigFine).
const wchar_t* configProblemText(int32_t problem);

// An ini is a few lines; anything larger is not one.
constexpr size_t kConfigFileLimit = 1024 * 1024;

// The file's bytes as UTF-8 without a byte-order mark: UTF-8 with or without
// one, UTF-16 LE or BE with one. False for anything else: a NUL byte without
// a UTF-16 mark, malformed UTF-8, an odd UTF-16 length or a lone surrogate.
bool decodeConfigText(const char* data, size_t size, std::string* utf8);

// Reads decoded text as the launcher always has: in pieces of at most 199
// bytes (a longer line arrives as several, each a line of its own), line
// ends as CRLF or LF. The last accepted "server=" line goes into host; the
// last key line's value into *key and the last "proxy=" line's into *proxy,
// when there is one (and the pointer is not null).
void readConfigText(const std::string& utf8, wchar_t* host, size_t hostUnits, std::optional<std::string>* key,
                    std::optional<std::string>* proxy = nullptr);

// When the line is a "proxy=" line, its value (up to the line end or a space).
bool readProxyLine(const char* line, size_t length, std::string* value);

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

// Reads the configuration file at `path` into gState.serverHost, gState.proxy
// and *key; a proxy= line that does not parse is kConfigProxyMalformed.
// A missing file is fine and changes nothing. One held by another program
// is tried again a few times over about a second (a virus scanner's lock
// lasts milliseconds) before it counts as unreadable.
ConfigProblem loadConfigFile(const wchar_t* path, std::optional<std::string>* key = nullptr);
constexpr int kConfigReadAttempts = 12;
constexpr unsigned kConfigRetryMs = 100;
