// AES-SIV-CMAC through OpenSSL 3, whose "AES-128-SIV" takes the 256-bit key of two
// AES-128 halves that RFC 5297 calls AEAD_AES_SIV_CMAC_256.
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <array>
#include <memory>
#include <vector>

#include "net/tls/aead.h"

namespace {
using TCipher = std::unique_ptr<EVP_CIPHER, decltype(&EVP_CIPHER_free)>;
using TContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

const unsigned char* Bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

// A context keyed for one direction, with the two header items already taken in.
TContext Prepared(const std::string& key, bool encrypt, const std::string& tag,
                  const std::string& associated, const std::string& nonce, std::string& error) {
    TContext none(nullptr, EVP_CIPHER_CTX_free);
    if (key.size() != kSivKeySize) {
        error = "the key is not 32 bytes";
        return none;
    }
    TCipher cipher(EVP_CIPHER_fetch(nullptr, "AES-128-SIV", nullptr), EVP_CIPHER_free);
    TContext ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    if (!cipher || !ctx) {
        error = "the system's OpenSSL has no AES-SIV";
        return none;
    }
    int n = 0;
    const bool ok =
        EVP_CipherInit_ex2(ctx.get(), cipher.get(), Bytes(key), nullptr, encrypt ? 1 : 0,
                           nullptr) == 1 &&
        (encrypt || EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_TAG, kSivTagSize,
                                        const_cast<char*>(tag.data())) == 1) &&
        EVP_CipherUpdate(ctx.get(), nullptr, &n, Bytes(associated),
                         static_cast<int>(associated.size())) == 1 &&
        (nonce.empty() ||
         EVP_CipherUpdate(ctx.get(), nullptr, &n, Bytes(nonce), static_cast<int>(nonce.size())) == 1);
    if (!ok) {
        error = "AES-SIV refused its input";
        return none;
    }
    return ctx;
}

// The payload through the prepared context; false when the tag does not match.
bool Run(EVP_CIPHER_CTX* ctx, const std::string& in, std::string& out) {
    out.assign(in.size() + kSivTagSize, '\0');
    int n = 0, last = 0;
    unsigned char* to = reinterpret_cast<unsigned char*>(out.data());
    if (EVP_CipherUpdate(ctx, to, &n, Bytes(in), static_cast<int>(in.size())) != 1) return false;
    if (EVP_CipherFinal_ex(ctx, to + n, &last) != 1) return false;
    out.resize(static_cast<size_t>(n + last));
    return true;
}
// OpenSSL 3.0 skips an empty payload and so never computes SIV's tag for it, yet every
// NTS request seals nothing. With nothing to encrypt the output is the tag alone, S2V
// (RFC 5297, section 2.4) over the header items and the empty text, keyed with the first
// half of the key.
using TBlock = std::array<unsigned char, 16>;

bool Cmac(const std::string& key, const std::string& message, TBlock& mac) {
    std::unique_ptr<EVP_MAC, decltype(&EVP_MAC_free)> algorithm(
        EVP_MAC_fetch(nullptr, "CMAC", nullptr), EVP_MAC_free);
    if (!algorithm) return false;
    std::unique_ptr<EVP_MAC_CTX, decltype(&EVP_MAC_CTX_free)> ctx(EVP_MAC_CTX_new(algorithm.get()),
                                                                  EVP_MAC_CTX_free);
    char cipherName[] = "AES-128-CBC";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipherName, 0),
        OSSL_PARAM_construct_end()};
    size_t length = 0;
    return ctx && EVP_MAC_init(ctx.get(), Bytes(key), key.size(), params) == 1 &&
           EVP_MAC_update(ctx.get(), Bytes(message), message.size()) == 1 &&
           EVP_MAC_final(ctx.get(), mac.data(), &length, mac.size()) == 1 && length == mac.size();
}

// Multiplication by x in GF(2^128), the "dbl" of S2V.
void Double(TBlock& block) {
    const bool carry = block[0] & 0x80;
    for (size_t i = 0; i + 1 < block.size(); ++i)
        block[i] = static_cast<unsigned char>((block[i] << 1) | (block[i + 1] >> 7));
    block[15] = static_cast<unsigned char>(block[15] << 1);
    if (carry) block[15] ^= 0x87;
}

bool EmptyTextTag(const std::string& key, const std::string& associated, const std::string& nonce,
                  std::string& tag) {
    const std::string macKey = key.substr(0, kSivKeySize / 2);
    TBlock d{}, mac{};
    if (!Cmac(macKey, std::string(16, '\0'), d)) return false;
    std::vector<const std::string*> items{&associated};
    if (!nonce.empty()) items.push_back(&nonce);
    for (const std::string* item : items) {
        if (!Cmac(macKey, *item, mac)) return false;
        Double(d);
        for (size_t i = 0; i < d.size(); ++i) d[i] ^= mac[i];
    }
    Double(d);
    d[0] ^= 0x80;  // the empty text, padded
    if (!Cmac(macKey, std::string(reinterpret_cast<const char*>(d.data()), d.size()), mac))
        return false;
    tag.assign(reinterpret_cast<const char*>(mac.data()), mac.size());
    return true;
}
}  // namespace

bool SivSeal(const std::string& key, const std::string& nonce, const std::string& associated,
             const std::string& plain, std::string& sealed, std::string& error) {
    if (plain.empty() && key.size() == kSivKeySize) {
        if (EmptyTextTag(key, associated, nonce, sealed)) return true;
        error = "the system's OpenSSL has no AES-CMAC";
        return false;
    }
    TContext ctx = Prepared(key, true, std::string(), associated, nonce, error);
    if (!ctx) return false;
    std::string cipherText;
    char tag[kSivTagSize];
    if (!Run(ctx.get(), plain, cipherText) ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_GET_TAG, kSivTagSize, tag) != 1) {
        error = "AES-SIV could not seal";
        return false;
    }
    sealed.assign(tag, kSivTagSize);
    sealed += cipherText;
    return true;
}

bool SivOpen(const std::string& key, const std::string& nonce, const std::string& associated,
             const std::string& sealed, std::string& plain, std::string& error) {
    if (sealed.size() < kSivTagSize) {
        error = "the sealed text is shorter than its tag";
        return false;
    }
    if (sealed.size() == kSivTagSize && key.size() == kSivKeySize) {
        std::string expected;
        plain.clear();
        if (EmptyTextTag(key, associated, nonce, expected) &&
            CRYPTO_memcmp(expected.data(), sealed.data(), kSivTagSize) == 0)
            return true;
        error = "not authentic";
        return false;
    }
    TContext ctx = Prepared(key, false, sealed.substr(0, kSivTagSize), associated, nonce, error);
    if (!ctx) return false;
    if (!Run(ctx.get(), sealed.substr(kSivTagSize), plain)) {
        plain.clear();
        error = "not authentic";
        return false;
    }
    return true;
}

bool SecureRandomBytes(size_t count, std::string& bytes) {
    bytes.assign(count, '\0');
    return RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(count)) == 1;
}
