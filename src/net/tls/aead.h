// AEAD_AES_SIV_CMAC_256 (RFC 5297): the one cipher that authenticated time uses. Keys are
// 32 bytes; the output is the 16-byte synthetic IV followed by the ciphertext.
#pragma once

#include <string>

constexpr size_t kSivKeySize = 32;
constexpr size_t kSivTagSize = 16;

// Encrypts plain with the associated data and the nonce as its two header items (an empty
// nonce is left out: the deterministic form). False
// (with why in error) when the key has the wrong size or the build has no cipher.
bool SivSeal(const std::string& key, const std::string& nonce, const std::string& associated,
             const std::string& plain, std::string& sealed, std::string& error);

// The reverse; false for anything not sealed with this key, nonce and associated data.
bool SivOpen(const std::string& key, const std::string& nonce, const std::string& associated,
             const std::string& sealed, std::string& plain, std::string& error);

// count bytes from the system's cryptographic generator; false when it has none.
bool SecureRandomBytes(size_t count, std::string& bytes);
