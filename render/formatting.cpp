#include "render/formatting.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <cwchar>

namespace {

constexpr wchar_t kDash[] = L"\u2014";
constexpr const wchar_t* kMonthAbbreviations[12] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                                    L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};

bool localTime(int64_t when, std::tm* out) {
    std::time_t t = static_cast<std::time_t>(when);
#ifdef _WIN32
    return ::localtime_s(out, &t) == 0;
#else
    return ::localtime_r(&t, out) != nullptr;
#endif
}

std::wstring format(const wchar_t* pattern, ...) {
    wchar_t text[96];
    va_list args;
    va_start(args, pattern);
    int n = std::vswprintf(text, 96, pattern, args);
    va_end(args);
    return n < 0 ? std::wstring() : std::wstring(text);
}

// "1234567" as "1,234,567".
std::wstring groupThousands(long long whole) {
    std::wstring digits = std::to_wstring(whole);
    std::wstring out;
    size_t lead = digits[0] == L'-' ? 1 : 0;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > lead && (digits.size() - i) % 3 == 0) out += L',';
        out += digits[i];
    }
    return out;
}

}  // namespace

std::wstring formatLastPlayed(int32_t valid, int64_t lastPlayed, int64_t now) {
    if (!valid) return kDash;
    if (lastPlayed <= 0) return L"Never";
    std::tm played{}, today{};
    if (!localTime(lastPlayed, &played) || !localTime(now, &today)) return kDash;
    const int64_t midnight = now - (today.tm_hour * 3600 + today.tm_min * 60 + today.tm_sec);
    if (lastPlayed >= midnight) return L"Today";  // a time in the future counts as today
    if (lastPlayed >= midnight - 86400) return L"Yesterday";
    const wchar_t* month = kMonthAbbreviations[std::clamp(played.tm_mon, 0, 11)];
    if (played.tm_year == today.tm_year) return format(L"%ls %d", month, played.tm_mday);
    return format(L"%ls %d, %d", month, played.tm_mday, played.tm_year + 1900);
}

std::wstring formatPlayTime(int32_t valid, int64_t playtimeMinutes) {
    if (!valid || playtimeMinutes < 0) return kDash;
    const double hours = playtimeMinutes / 60.0;
    long long whole = static_cast<long long>(hours);
    int tenth = static_cast<int>((hours - whole) * 10 + 0.5);
    if (tenth == 10) {  // .95 and above round up to the next whole hour
        ++whole;
        tenth = 0;
    }
    return format(L"%ls.%d hours", groupThousands(whole).c_str(), tenth);
}

std::wstring formatTransferRate(double bytesPerSecond, int64_t bytesLeft) {
    if (!(bytesPerSecond > 1.0)) return {};
    const double seconds = bytesLeft / bytesPerSecond;
    const double megabytes = bytesPerSecond / 1048576.0;
    // Truncated, then one more: 0.2 s shows 1 sec, 61 s shows 2 min.
    if (seconds < 60) return format(L"%.1f MB/s  \u2022  %d sec left", megabytes, static_cast<int>(seconds) + 1);
    const double minutes = std::min(seconds / 60, 2.0e9);  // an absurd estimate must not overflow
    return format(L"%.1f MB/s  \u2022  %d min left", megabytes, static_cast<int>(minutes) + 1);
}

std::wstring formatCount(int32_t count) { return count >= 0 ? std::to_wstring(count) : std::wstring(L"\u2014"); }

std::wstring formatAmount(int64_t bytesDone, int64_t bytesTotal) {
    return format(L"%.2f / %.2f GB   %d%%", bytesDone / 1073741824.0, bytesTotal / 1073741824.0,
                  progressPercent(bytesDone, bytesTotal));
}

int32_t progressPercent(int64_t bytesDone, int64_t bytesTotal) {
    return static_cast<int32_t>(progressFraction(bytesDone, bytesTotal) * 100);
}

double progressFraction(int64_t bytesDone, int64_t bytesTotal) {
    if (bytesTotal == 0) return 0.0;
    return std::clamp(static_cast<double>(bytesDone) / static_cast<double>(bytesTotal), 0.0, 1.0);
}

int32_t progressFillWidth(int32_t trackWidth, double fraction, int32_t minWidth) {
    const int32_t width = static_cast<int32_t>(trackWidth * fraction);
    return width > 0 ? std::max(width, minWidth) : 0;
}

int32_t clampNotesScroll(int32_t scroll, int32_t contentHeight, int32_t viewHeight) {
    const int32_t largest = std::max(0, contentHeight - viewHeight);
    if (scroll > largest) return largest;
    return scroll < 0 ? 0 : scroll;
}

bool notesScrollThumb(int32_t viewHeight, int32_t contentHeight, int32_t scroll, int32_t minHeight,
                      ScrollThumb* out) {
    if (contentHeight <= viewHeight || viewHeight <= 0) return false;
    const int64_t v = viewHeight;
    // In a very low card the minimum would poke out of the view.
    const int32_t height = std::min(std::max(static_cast<int32_t>(v * v / contentHeight), minHeight), viewHeight);
    const int64_t largest = contentHeight - viewHeight;
    out->height = height;
    out->top = static_cast<int32_t>((v - height) * clampNotesScroll(scroll, contentHeight, viewHeight) / largest);
    return true;
}
