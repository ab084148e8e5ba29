// The texts and numbers the painters derive from the shared state: dates,
// play time, transfer rate and amount, the progress fill and the notes'
// scroll thumb. Pure: no <windows.h>, and the time source is passed in.
#pragma once

#include <cstdint>
#include <string>

// "—" without Steam, "Never", "Today", "Yesterday", "Mar 7" or "Dec 28, 2024"
// in local time. `now` and `lastPlayed` are Unix seconds.
std::wstring formatLastPlayed(int32_t valid, int64_t lastPlayed, int64_t now);

// "1,234.5 hours", rounded to a tenth; "—" without Steam or for a negative count.
std::wstring formatPlayTime(int32_t valid, int64_t playtimeMinutes);

// "2.5 MB/s  •  13 sec left", or empty while the speed is 1 byte/s or less.
std::wstring formatTransferRate(double bytesPerSecond, int64_t bytesLeft);

// A server card tile's number: "—" for a count not received (negative).
std::wstring formatCount(int32_t count);

// "0.40 / 1.00 GB   40%", with the fraction capped at 1.
std::wstring formatAmount(int64_t bytesDone, int64_t bytesTotal);

// The whole percent the amount shows, 0..100, truncated.
int32_t progressPercent(int64_t bytesDone, int64_t bytesTotal);

// bytesDone / bytesTotal within 0..1; 0 when nothing is announced.
double progressFraction(int64_t bytesDone, int64_t bytesTotal);

// Width of the progress fill in a track `trackWidth` wide: empty at 0,
// otherwise at least `minWidth`.
int32_t progressFillWidth(int32_t trackWidth, double fraction, int32_t minWidth);

// The patch notes' scroll offset pulled into 0..max(0, content - view).
int32_t clampNotesScroll(int32_t scroll, int32_t contentHeight, int32_t viewHeight);

// The scroll thumb, relative to the top of the view. False when the whole
// text fits and there is no thumb.
struct ScrollThumb {
    int32_t top = 0, height = 0;
};
bool notesScrollThumb(int32_t viewHeight, int32_t contentHeight, int32_t scroll, int32_t minHeight,
                      ScrollThumb* out);
