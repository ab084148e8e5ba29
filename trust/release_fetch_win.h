// The release's objects fetched by hash from "/launcher/o/<hex>" and checked
// before anything uses them, and the releases kept on disk.
#pragma once

#include <windows.h>

#include <string>

#include "core/byte_buffer.h"
#include "trust/release.h"
#include "trust/release_identity_win.h"


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

// Keeps the release last accepted under the key in the data folder, at
// keptReleasePath(): start-up trusts banner.img only where this names it.
void keepAcceptedRelease(const ByteBuffer& bytes);
