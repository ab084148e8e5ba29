#include "core/event_log.h"

#include <cstdio>

namespace {

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Windows names compare without case; "/" and "\" both separate.
bool sameNameChar(char a, char b) {
    if ((a == '/' || a == '\\') && (b == '/' || b == '\\')) return true;
    return lowerAscii(a) == lowerAscii(b);
}

bool folderAt(const std::string& text, size_t at, const std::string& folder) {
    if (folder.empty() || text.size() - at < folder.size()) return false;
    for (size_t i = 0; i < folder.size(); ++i)
        if (!sameNameChar(text[at + i], folder[i])) return false;
    // Whole names only: "C:\Users\ann" is not in "C:\Users\anna".
    const size_t end = at + folder.size();
    return end == text.size() || text[end] == '\\' || text[end] == '/' || text[end] == '"' || text[end] == ' ' ||
           text[end] == ')' || text[end] == ',' || text[end] == '\'' || text[end] == ':' || text[end] == ';';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A SteamID64 of an individual account: 17 digits starting 7656119, not
// part of a longer number.
bool steamIdAt(const std::string& text, size_t at) {
    if (text.size() - at < 17 || (at > 0 && isDigit(text[at - 1]))) return false;
    if (text.compare(at, 7, "7656119") != 0) return false;
    for (size_t i = 7; i < 17; ++i)
        if (!isDigit(text[at + i])) return false;
    return at + 17 == text.size() || !isDigit(text[at + 17]);
}

constexpr char kUsers[] = "\\users\\";

bool usersAt(const std::string& text, size_t at) {
    if (text.size() - at < 7) return false;
    for (size_t i = 0; i < 7; ++i)
        if (!sameNameChar(text[at + i], kUsers[i])) return false;
    return true;
}

// The bytes of a character some reader may break a line at, or 0: C0
// controls and DEL, C1 controls (C2 80..C2 9F, U+0085 among them), and
// U+2028/U+2029 (E2 80 A8, E2 80 A9).
size_t lineBreakAt(const std::string& text, size_t i, size_t end) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7f) return 1;
    const auto at = [&](size_t k) { return i + k < end ? static_cast<unsigned char>(text[i + k]) : 0; };
    if (c == 0xc2 && at(1) >= 0x80 && at(1) <= 0x9f) return 2;
    if (c == 0xe2 && at(1) == 0x80 && (at(2) == 0xa8 || at(2) == 0xa9)) return 3;
    return 0;
}

// The account's name as a whole name between separators.
bool accountNameAt(const std::string& text, size_t at, const std::string& name) {
    return at > 0 && (text[at - 1] == '\\' || text[at - 1] == '/') && folderAt(text, at, name);
}

}  // namespace

std::string formatLogLine(const LogTime& t, const char* thread, const std::string& text) {
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%04d-%02d-%02d %02d:%02d:%02d.%03dZ ", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.millisecond);
    std::string line = prefix;
    line += thread && *thread ? thread : "?";
    line += ": ";
    const size_t n = text.size() < kLogTextLimit ? text.size() : kLogTextLimit;
    for (size_t i = 0; i < n; ++i) {
        const size_t breakBytes = lineBreakAt(text, i, n);
        if (breakBytes) {
            line.push_back(' ');
            i += breakBytes - 1;
            continue;
        }
        line.push_back(text[i]);
    }
    line.push_back('\n');
    return line;
}

std::string withoutPrivate(const std::string& text, const PrivateFolders& folders, const std::string& accountName) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& [folder, standIn] : folders) {
            if (!folderAt(text, i, folder)) continue;
            out += standIn;
            i += folder.size();
            replaced = true;
            break;
        }
        if (replaced) continue;
        if (steamIdAt(text, i)) {
            out += "<steam id>";
            i += 17;
            continue;
        }
        if (accountNameAt(text, i, accountName)) {
            out += "<user>";
            i += accountName.size();
            continue;
        }
        if (usersAt(text, i)) {
            // Some other profile's folder, or the profile named another way.
            out.append(text, i, 7);
            out += "<user>";
            i += 7;
            while (i < text.size() && text[i] != '\\' && text[i] != '/' && text[i] != '"') ++i;
            continue;
        }
        out.push_back(text[i++]);
    }
    return out;
}

bool logWantsRotation(int64_t logBytes, size_t lineBytes) {
    return logBytes > 0 && logBytes + static_cast<int64_t>(lineBytes + kLogNoteReserve) > kLogFileLimit;
}

namespace {

struct NamedCode {
    uint32_t code;
    const char* name;
};

// The Win32 codes a download or a file move meets, and every WinHTTP code.
constexpr NamedCode kCodeNames[] = {
    {0, "ERROR_SUCCESS"}, {2, "ERROR_FILE_NOT_FOUND"}, {3, "ERROR_PATH_NOT_FOUND"}, {5, "ERROR_ACCESS_DENIED"},
    {6, "ERROR_INVALID_HANDLE"}, {8, "ERROR_NOT_ENOUGH_MEMORY"}, {32, "ERROR_SHARING_VIOLATION"},
    {33, "ERROR_LOCK_VIOLATION"}, {38, "ERROR_HANDLE_EOF"}, {39, "ERROR_HANDLE_DISK_FULL"},
    {87, "ERROR_INVALID_PARAMETER"}, {112, "ERROR_DISK_FULL"}, {122, "ERROR_INSUFFICIENT_BUFFER"},
    {123, "ERROR_INVALID_NAME"}, {183, "ERROR_ALREADY_EXISTS"}, {206, "ERROR_FILENAME_EXCED_RANGE"},
    {995, "ERROR_OPERATION_ABORTED"}, {1224, "ERROR_USER_MAPPED_FILE"}, {1460, "ERROR_TIMEOUT"},
    {12001, "ERROR_WINHTTP_OUT_OF_HANDLES"}, {12002, "ERROR_WINHTTP_TIMEOUT"},
    {12004, "ERROR_WINHTTP_INTERNAL_ERROR"}, {12005, "ERROR_WINHTTP_INVALID_URL"},
    {12006, "ERROR_WINHTTP_UNRECOGNIZED_SCHEME"}, {12007, "ERROR_WINHTTP_NAME_NOT_RESOLVED"},
    {12009, "ERROR_WINHTTP_INVALID_OPTION"}, {12011, "ERROR_WINHTTP_OPTION_NOT_SETTABLE"},
    {12012, "ERROR_WINHTTP_SHUTDOWN"}, {12015, "ERROR_WINHTTP_LOGIN_FAILURE"},
    {12017, "ERROR_WINHTTP_OPERATION_CANCELLED"}, {12018, "ERROR_WINHTTP_INCORRECT_HANDLE_TYPE"},
    {12019, "ERROR_WINHTTP_INCORRECT_HANDLE_STATE"}, {12029, "ERROR_WINHTTP_CANNOT_CONNECT"},
    {12030, "ERROR_WINHTTP_CONNECTION_ERROR"}, {12032, "ERROR_WINHTTP_RESEND_REQUEST"},
    {12037, "ERROR_WINHTTP_SECURE_CERT_DATE_INVALID"}, {12038, "ERROR_WINHTTP_SECURE_CERT_CN_INVALID"},
    {12044, "ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED"}, {12045, "ERROR_WINHTTP_SECURE_INVALID_CA"},
    {12057, "ERROR_WINHTTP_SECURE_CERT_REV_FAILED"}, {12100, "ERROR_WINHTTP_CANNOT_CALL_BEFORE_OPEN"},
    {12101, "ERROR_WINHTTP_CANNOT_CALL_BEFORE_SEND"}, {12102, "ERROR_WINHTTP_CANNOT_CALL_AFTER_SEND"},
    {12103, "ERROR_WINHTTP_CANNOT_CALL_AFTER_OPEN"}, {12150, "ERROR_WINHTTP_HEADER_NOT_FOUND"},
    {12152, "ERROR_WINHTTP_INVALID_SERVER_RESPONSE"}, {12153, "ERROR_WINHTTP_INVALID_HEADER"},
    {12154, "ERROR_WINHTTP_INVALID_QUERY_REQUEST"}, {12155, "ERROR_WINHTTP_HEADER_ALREADY_EXISTS"},
    {12156, "ERROR_WINHTTP_REDIRECT_FAILED"}, {12157, "ERROR_WINHTTP_SECURE_CHANNEL_ERROR"},
    {12166, "ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT"}, {12167, "ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT"},
    {12169, "ERROR_WINHTTP_SECURE_INVALID_CERT"}, {12170, "ERROR_WINHTTP_SECURE_CERT_REVOKED"},
    {12172, "ERROR_WINHTTP_NOT_INITIALIZED"}, {12175, "ERROR_WINHTTP_SECURE_FAILURE"},
    {12176, "ERROR_WINHTTP_UNHANDLED_SCRIPT_TYPE"}, {12177, "ERROR_WINHTTP_SCRIPT_EXECUTION_ERROR"},
    {12178, "ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR"}, {12179, "ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE"},
    {12180, "ERROR_WINHTTP_AUTODETECTION_FAILED"}, {12181, "ERROR_WINHTTP_HEADER_COUNT_EXCEEDED"},
    {12182, "ERROR_WINHTTP_HEADER_SIZE_OVERFLOW"}, {12183, "ERROR_WINHTTP_CHUNKED_ENCODING_HEADER_SIZE_OVERFLOW"},
    {12184, "ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW"}, {12185, "ERROR_WINHTTP_CLIENT_CERT_NO_PRIVATE_KEY"},
    {12186, "ERROR_WINHTTP_CLIENT_CERT_NO_ACCESS_PRIVATE_KEY"}, {12187, "ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED_PROXY"},
    {12188, "ERROR_WINHTTP_SECURE_FAILURE_PROXY"}, {12190, "ERROR_WINHTTP_HTTP_PROTOCOL_MISMATCH"},
};

}  // namespace

const char* errorCodeName(uint32_t code) {
    for (const NamedCode& n : kCodeNames)
        if (n.code == code) return n.name;
    return "";
}

std::string describeError(uint32_t code) {
    std::string out = "error " + std::to_string(code);
    const char* name = errorCodeName(code);
    if (*name) out += std::string(" (") + name + ")";
    return out;
}
