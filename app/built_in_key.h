// The manifest key built into the exe: empty, or 88 base64 characters.
// Alone in its file so that a test build can link another key in its place.
#pragma once

extern const char kBuiltInManifestKey[];
