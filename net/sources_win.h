// This run's sources of objects: the configured host (source 0), then the
// mirrors the release in use names. Shared by every thread that fetches an
// object; which source is set aside, and which lacks what, is kept here.
#pragma once

#include <string>
#include <vector>

#include "net/sources.h"

// The mirrors of the release in use (each as readSourceBase reads it);
// empty for the host alone. What was learned of a mirror named again stays.
void useMirrors(const std::vector<std::string>& mirrors);

int sourceCount();

// `path` ("/launcher/o/...") at source `source`: the path itself for the
// host, "https://mirror[:port]/prefix/launcher/o/..." for a mirror. The
// HTTP client opens either.
std::wstring sourceAddress(int source, const std::wstring& path);

// How a source is named in what TVLHeadless prints: "the host" or the
// mirror's address.
std::wstring sourceName(int source);
// The same, with the host as "https://<host>" rather than "the host".
std::wstring sourceOrigin(int source);

// chooseSource and noteSourceFault over this run's sources, now.
int chooseObjectSource(const std::string& object, const std::vector<int>& tried);
void noteObjectFault(int source, const std::string& object, SourceFault fault);

// A verified transfer of `bytes` from `source` in `ms` (those of at least
// kRateSampleBytes count), and the fastest rate of the other sources not
// set aside now, in bytes per second (0: none known).
constexpr int64_t kRateSampleBytes = 1024 * 1024;
void noteSourceRate(int source, int64_t bytes, uint64_t ms);
int64_t fastestOtherRate(int source);

// Told of each move to another source ("https://m.example.net: the host
// answered 503 for /launcher/o/..."), for TVLHeadless; null in the launcher.
using SourceObserver = void (*)(const wchar_t* line);
extern SourceObserver gSourceObserver;
void reportSourceMove(int to, const std::wstring& reason);
