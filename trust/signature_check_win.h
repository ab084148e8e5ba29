// ECDSA P-256 over SHA-256 through CNG (BCrypt), which every Windows 10 and
// 11 has: the launcher stays one exe that imports only system DLLs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trust/signing_formats.h"

// Does `signature` sign the SHA-256 of data[0..size) under the key X||Y?
// False also when CNG cannot be had: without a check, nothing is trusted.
bool verifyEcdsaP256(const uint8_t keyXY[64], const void* data, size_t size, const ManifestSignature& signature);

// SHA-256 of data[0..size) into out; false when CNG cannot be had.
bool sha256(const void* data, size_t size, uint8_t out[32]);
