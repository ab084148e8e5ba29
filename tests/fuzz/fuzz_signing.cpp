// The manifest key, the signature text and the release document. Decoding is strict, so each accepted value has exactly one
// spelling: re-encoding gives back the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/sources.h"
#include "trust/release.h"
#include "trust/signing_formats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    uint8_t xy[64];
    if (decodeManifestKey(text, size, xy)) {
        if (!isP256Point(xy) || encodeBase64(xy, 64) != std::string(text, size)) std::abort();
    }
    ManifestSignature signature;
    if (decodeManifestSignature(text, size, &signature)) {
        if (encodeBase64(signature.rs, 64) != std::string(text, size < 88 ? size : 88)) std::abort();
    }
    std::string ini(text, size);
    ManifestKey key = chooseManifestKey(&ini, nullptr);
    if (key.state == kNoManifestKey) std::abort();  // a key line never turns signing off
    Release release;
    if (readRelease(text, size, &release) &&
        (release.version < 1 || release.host.empty() || release.signedSize + 4 + 88 + 1 != size ||
         std::memcmp(text + release.signedSize, "sig ", 4) != 0 ||
         encodeBase64(release.signature.rs, 64) != std::string(text + size - 89, 88)))
        std::abort();
    // A mirror the reader took is one the sources take, with nothing but a
    // host, a port and a path; none in format 1.
    for (const std::string& mirror : release.mirrors) {
        SourceBase base;
        if (release.format != 2 || !readSourceBase(mirror, &base) || mirror.find_first_of("?#@%\\ ") != std::string::npos)
            std::abort();
    }
    return 0;
}
