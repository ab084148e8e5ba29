// Which hosts serve one range per request (a cache, object storage, an
// origin with max_ranges 1): learned when several ranges in one request came
// back as anything but multipart, kept for the run and for a day in
// "range_hosts.txt" in the data folder, so the next start asks right away.
#pragma once

#include <string>

// For the host of `address` (a path is the configured host's).
bool servesOneRange(const std::wstring& address);
void learnOneRange(const std::wstring& address);

// Forgets the run's memory; the file is read again at the next question.
void forgetRangeHosts();
