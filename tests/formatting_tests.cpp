// What the action bar and the cards say, natively and under Wine.
#include <doctest/doctest.h>

#include <ctime>
#include <string>
#include <vector>

#include "render/formatting.h"
#include "render/patch_notes.h"
#include "tests/support/wide_strings.h"

namespace {

// Unix seconds of a local date and time.
int64_t localSeconds(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&t));
}

std::vector<std::wstring> layout(const std::wstring& notes) {
    std::vector<std::wstring> out;
    size_t pos = 0;
    NoteLine line;
    while (nextNoteLine(notes.c_str(), notes.size(), &pos, &line)) {
        std::wstring shown(line.text, line.length);
        out.push_back(line.blank ? L"<gap>" : (line.bullet ? L"* " : L"") + shown);
    }
    return out;
}

}  // namespace

TEST_CASE("last played: today, yesterday, this year, other years") {
    const int64_t now = localSeconds(2026, 3, 9, 15, 30, 0);
    const int64_t midnight = localSeconds(2026, 3, 9, 0, 0, 0);
    CHECK(formatLastPlayed(0, now, now) == L"\u2014");
    CHECK(formatLastPlayed(1, 0, now) == L"Never");
    CHECK(formatLastPlayed(1, midnight + 600, now) == L"Today");
    CHECK(formatLastPlayed(1, now + 86400 * 3, now) == L"Today");  // clock skew
    CHECK(formatLastPlayed(1, midnight - 1, now) == L"Yesterday");
    CHECK(formatLastPlayed(1, midnight - 86400, now) == L"Yesterday");
    CHECK(formatLastPlayed(1, midnight - 86401, now) == L"Mar 7");
    CHECK(formatLastPlayed(1, localSeconds(2024, 12, 28, 20, 0, 0), now) == L"Dec 28, 2024");
    CHECK(formatLastPlayed(1, localSeconds(2026, 1, 1, 0, 0, 1), now) == L"Jan 1");
}

TEST_CASE("play time in hours with a tenth and thousands separators") {
    CHECK(formatPlayTime(1, 58) == L"1.0 hours");
    CHECK(formatPlayTime(1, 3) == L"0.1 hours");
    CHECK(formatPlayTime(1, 90) == L"1.5 hours");
    CHECK(formatPlayTime(1, 74040) == L"1,234.0 hours");
    CHECK(formatPlayTime(1, 1234567) == L"20,576.1 hours");
    CHECK(formatPlayTime(1, 59994) == L"999.9 hours");
    CHECK(formatPlayTime(1, 0) == L"0.0 hours");
    CHECK(formatPlayTime(1, -1) == L"\u2014");
    CHECK(formatPlayTime(0, 90) == L"\u2014");
}

TEST_CASE("the server tiles: a dash until a count arrives, zero as zero") {
    CHECK(formatCount(-1) == L"\u2014");
    CHECK(formatCount(0) == L"0");
    CHECK(formatCount(1234) == L"1234");
}

TEST_CASE("download progress: rate, time left, amount and fill") {
    const double speed = 2621440.0;  // 2.5 MB/s
    CHECK(formatTransferRate(speed, 30LL << 20) == L"2.5 MB/s  \u2022  13 sec left");
    CHECK(formatTransferRate(speed, 300LL << 20) == L"2.5 MB/s  \u2022  3 min left");
    CHECK(formatTransferRate(speed, static_cast<int64_t>(speed * 0.2)) == L"2.5 MB/s  \u2022  1 sec left");
    CHECK(formatTransferRate(1.0, 1000) == L"");
    CHECK(formatTransferRate(2.0, 6000000000000000000LL).find(L"min left") != std::wstring::npos);
    CHECK(formatAmount(0, 0) == L"0.00 / 0.00 GB   0%");
    CHECK(formatAmount(3LL << 30, 2LL << 30) == L"3.00 / 2.00 GB   100%");  // more than announced
    CHECK(formatAmount(429496730, 1LL << 30) == L"0.40 / 1.00 GB   40%");
    CHECK(progressFillWidth(494, progressFraction(3, 1000), 10) == 10);  // 1 px is drawn 10 wide
    CHECK(progressFillWidth(494, progressFraction(1, 1000), 10) == 0);    // under 1 px: empty
    CHECK(progressFillWidth(494, progressFraction(0, 1000), 10) == 0);
    CHECK(progressFillWidth(494, progressFraction(5, 0), 10) == 0);
    CHECK(progressFillWidth(494, progressFraction(500, 1000), 10) == 247);
}

TEST_CASE("the notes' scroll is clamped and the thumb tracks it") {
    CHECK(clampNotesScroll(500, 300, 133) == 167);
    CHECK(clampNotesScroll(-40, 300, 133) == 0);
    CHECK(clampNotesScroll(50, 100, 133) == 0);
    ScrollThumb thumb;
    REQUIRE(notesScrollThumb(133, 300, 0, 30, &thumb));
    CHECK(thumb.height == 58);
    CHECK(thumb.top == 0);
    REQUIRE(notesScrollThumb(133, 300, 167, 30, &thumb));
    CHECK(thumb.top + thumb.height == 133);  // at the end it meets the view's bottom
    REQUIRE(notesScrollThumb(133, 100000, 0, 30, &thumb));
    CHECK(thumb.height == 30);
    CHECK_FALSE(notesScrollThumb(133, 133, 0, 30, &thumb));
}

TEST_CASE("patch notes split into heading, gaps and bullets whatever the line ends") {
    const std::vector<std::wstring> expected = {L"Patch 12", L"<gap>", L"* Faster matchmaking", L"* Fixed crash"};
    CHECK(layout(L"Patch 12\n\n- Faster matchmaking\n- Fixed crash") == expected);
    CHECK(layout(L"Patch 12\r\n\r\n- Faster matchmaking\r\n- Fixed crash\r\n") == expected);
    CHECK(layout(L"a\n\rb") == std::vector<std::wstring>{L"a", L"<gap>", L"b"});
    CHECK(layout(L"-Fixed\n  \u2022 Item\n*\n* ") == std::vector<std::wstring>{L"-Fixed", L"* Item", L"*", L"* "});
    std::wstring longLine(3000, L'x');
    CHECK(layout(longLine + L"\nnext") == std::vector<std::wstring>{std::wstring(2047, L'x'), L"next"});
}
