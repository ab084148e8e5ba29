// Signed releases made inside a test: a fixed P-256 key pair of tests only,
// signing through BCrypt as the publish tool signs through openssl, and
// objects put on the test server by their hash.
#pragma once

#include <cstdint>
#include <string>

namespace signer {

// The key players would hold, as a manifest_key= value.
extern const char kTestKey[];

// Points gState.manifestKey at the test key.
void useTestKey();

std::string sha256Hex(const std::string& bytes);
std::string sha1Hex(const std::string& bytes);

// Puts bytes on the test server as "launcher/o/<sha256>"; returns
// "<sha256> <size>", as a release's object line names them.
std::string putObject(const std::string& bytes);

// The release lines up to "notes" for the test server's host, with an
// expiry far ahead unless one is given.
std::string releaseHead(int version, const std::string& manifestObject, const std::string& notesObject,
                        int64_t expires = 253402300799);

// `body` followed by its "sig" line under the test key.
std::string signRelease(const std::string& body);

}  // namespace signer
