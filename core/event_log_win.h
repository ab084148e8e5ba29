// launcher.log in the data folder: one line per event, for the player to
// send when something went wrong. Lines are written whole under a named
// mutex, so threads and a second launcher never tear one, and the log is
// moved aside to launcher.1.log before it passes kLogFileLimit. Private
// folders and Steam IDs are taken out of every line (event_log.h).
#pragma once

#include <atomic>
#include <string>

// Starts the log in the data folder (start-up, once the folder exists).
// Before that, and when it cannot be opened, events go nowhere.
void openEventLog(const wchar_t* dataFolder);

// "%LOCALAPPDATA%\UE4TVL\launcher.log"'s real path; empty before openEventLog.
std::wstring eventLogPath();

// Names the calling thread in its lines ("worker", "download 3"); up to 23 characters.
void setLogThread(const char* name);

// One event: printf-style, in UTF-8. Wide text goes in through logUtf8:
// the C library's %ls would convert it by the locale's code page.
void logEvent(const char* format, ...);
std::string logUtf8(const std::wstring& text);

// The same for the run's start lines: each file this launcher starts by
// rotating opens with them again.
void logStartEvent(const char* format, ...);

// TVLHeadless --log: every line goes to standard error too.
extern std::atomic<bool> gLogEcho;
// The benchmark's baseline: nothing is formatted or written.
extern std::atomic<bool> gLogOff;
