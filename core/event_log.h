// The lines of launcher.log, without the file: how a line reads, what is
// taken out of it before it is written, and the names of error codes.
// Pure: no <windows.h>.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Each of launcher.log and launcher.1.log stays within this; together 2 MiB.
constexpr int64_t kLogFileLimit = 1024 * 1024;
// A longer event is cut; no event of ours comes near it.
constexpr size_t kLogTextLimit = 2000;

struct LogTime {
    int year, month, day, hour, minute, second, millisecond;
};

// "2026-12-08 14:02:35.123Z worker: <text>\n". Line breaks and other
// control characters in the text become spaces, so one event is one line:
// C0 and C1 controls (U+0085 too) and the line and paragraph separators
// U+2028 and U+2029, which some readers split lines at.
std::string formatLogLine(const LogTime& time, const char* thread, const std::string& text);

// The folders a line must not name as they are: each (folder, its stand-in)
// pair, as "C:\Users\ann\AppData\Local" and "%LOCALAPPDATA%". Longer ones
// first, since the local folder lies inside the profile.
using PrivateFolders = std::vector<std::pair<std::string, std::string>>;

// `text` with every private folder replaced by its stand-in (case as
// Windows compares names, either slash), any other "\Users\<name>" with
// "\Users\<user>", the account's name wherever it is a whole folder or
// file name ("C:\Players\ann\Tervalon") with "<user>", and every SteamID64
// (17 digits from 7656119) with "<steam id>".
std::string withoutPrivate(const std::string& text, const PrivateFolders& folders,
                           const std::string& accountName = std::string());

// Room kept at the end of each file for the one line that says the log
// cannot be moved aside, so even then a file stays within kLogFileLimit.
constexpr size_t kLogNoteReserve = 256;

// Does a write of `lineBytes` to a log of `logBytes` first move it aside?
bool logWantsRotation(int64_t logBytes, size_t lineBytes);

// "ERROR_WINHTTP_CANNOT_CONNECT" for 12029; "" for a code without a name here.
const char* errorCodeName(uint32_t code);

// "error 12029 (ERROR_WINHTTP_CANNOT_CONNECT)", or "error 7" without a name.
std::string describeError(uint32_t code);
