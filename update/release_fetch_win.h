// The Windows edge of the release: its signature under the configured key,
// the server= host it must name, and its objects fetched by hash from
// "/launcher/o/<hex>" and checked before anything uses them.
#pragma once

#include <windows.h>

#include <string>

#include "core/byte_buffer.h"
#include "update/release.h"

// The server= host in lowercase, as a release names it.
std::string configuredHost();

// Does the release's signature sign its first signedSize bytes under the
// configured key? False without a valid key.
bool releaseSigned(const char* data, const Release& release);

// Exactly `object`'s size and SHA-256?
bool bytesMatchObject(const void* data, size_t size, const ObjectRef& object);

enum ObjectFetch {
    kObjectFetched,
    kObjectNoAnswer,  // no answer, or one too slow or too long
    kObjectStatus,    // an answer other than 200
    kObjectMismatch,  // 200, but not the bytes the release names
};
ObjectFetch fetchObject(const ObjectRef& object, ByteBuffer* out);

// A release kept on disk (beside a prepared build, or in the data folder):
// read well, signed under the configured key, for this host, and not below
// the floor. No expiry: it was fresh when it was fetched.
bool keptReleaseTrusted(const wchar_t* path, Release* out);

// The release last accepted under the key, kept in the data folder as
// "release.txt": start-up trusts banner.img only where this names it.
std::wstring keptReleasePath();
void keepAcceptedRelease(const ByteBuffer& bytes);
