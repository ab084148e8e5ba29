// Who a release must be from and for: the configured key that signs it, the
// server= host it must name, and where the last accepted one is kept. The
// floor and the fetching of objects both stand on this.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "trust/release.h"

// The server= host in lowercase, as a release names it.
std::string configuredHost();

// Does the release's signature sign its first signedSize bytes under the
// configured key? False without a valid key.
bool releaseSigned(const char* data, const Release& release);

// Exactly `object`'s size and SHA-256?
bool bytesMatchObject(const void* data, size_t size, const ObjectRef& object);

// "release.txt" in the data folder: the release last accepted under the key.
std::wstring keptReleasePath();
