#include "gsm/codecs/smscipher.h"

#include <random>
#include <string_view>

#include "gsm/codecs/cipherprimitives.h"
#include "gsm/codecs/utf.h"

namespace {

constexpr size_t NonceOctets = 4;
constexpr size_t CheckOctets = 4;
constexpr std::string_view BodyAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The key text spread over a full ChaCha20 key; any text, the empty one too, is a key.
TChaChaKey StretchKey(const std::string& key) {
    TChaChaKey out{};
    for (size_t part = 0; part < 4; ++part) {
        TSipKey salt{};
        salt[0] = uint8_t(0xA5 + part);
        salt[15] = uint8_t(part);
        const uint64_t h = SipHash24(salt, key);
        for (size_t b = 0; b < 8; ++b) out[8 * part + b] = uint8_t(h >> (8 * b));
    }
    return out;
}

struct TKeyedNonce {
    TChaChaKey key;
    TChaChaNonce nonce{};
};

TKeyedNonce MakeKeyedNonce(const std::string& key, std::string_view nonceOctets) {
    TKeyedNonce kn{StretchKey(key)};
    for (size_t i = 0; i < nonceOctets.size() && i < kn.nonce.size(); ++i)
        kn.nonce[i] = uint8_t(nonceOctets[i]);
    return kn;
}

// Block 0 keys the check value; the text is XORed with blocks 1, 2, ...
void XorKeystream(const TKeyedNonce& kn, std::string& data, size_t from) {
    for (size_t i = from; i < data.size(); i += 64) {
        const TChaChaBlock block = ChaCha20Block(kn.key, uint32_t(1 + (i - from) / 64), kn.nonce);
        for (size_t j = 0; j < 64 && i + j < data.size(); ++j) data[i + j] ^= char(block[j]);
    }
}

std::string CheckValue(const TKeyedNonce& kn, std::string_view nonceAndCipher) {
    const TChaChaBlock block0 = ChaCha20Block(kn.key, 0, kn.nonce);
    TSipKey macKey;
    for (size_t i = 0; i < macKey.size(); ++i) macKey[i] = block0[i];
    const uint64_t h = SipHash24(macKey, nonceAndCipher);
    std::string check(CheckOctets, '\0');
    for (size_t i = 0; i < CheckOctets; ++i) check[i] = char(h >> (8 * i));
    return check;
}

// Base64 without padding: '=' would be taken for a recipient separator on the way in.
std::string ToBody(std::string_view octets) {
    std::string body;
    uint32_t bits = 0;
    int count = 0;
    for (const char c : octets) {
        bits = bits << 8 | uint8_t(c);
        count += 8;
        while (count >= 6) body += BodyAlphabet[(bits >> (count -= 6)) & 63];
    }
    if (count > 0) body += BodyAlphabet[(bits << (6 - count)) & 63];
    return body;
}

std::optional<std::string> FromBody(std::string_view body) {
    if (body.size() % 4 == 1) return std::nullopt;
    std::string octets;
    uint32_t bits = 0;
    int count = 0;
    for (const char c : body) {
        const size_t v = BodyAlphabet.find(c);
        if (v == std::string_view::npos) return std::nullopt;
        bits = bits << 6 | uint32_t(v);
        count += 6;
        if (count >= 8) octets += char(bits >> (count -= 8));
    }
    if ((bits & ((1u << count) - 1)) != 0) return std::nullopt;  // stray low bits: damage
    return octets;
}

std::string FreshNonce() {
    std::random_device device;
    std::string nonce(NonceOctets, '\0');
    for (char& c : nonce) c = char(device());
    return nonce;
}

}  // namespace

std::string SmsCipherKey(const std::string& pin) {
    const bool blank = pin.find_first_not_of(" \t\r\n") == std::string::npos;
    if (blank) return "    ";
    // The first four characters (UTF-8 sequences), filled with spaces to four code units.
    size_t end = 0;
    for (int chars = 0; end < pin.size(); ++end) {
        if ((static_cast<unsigned char>(pin[end]) & 0xC0) == 0x80) continue;
        if (chars++ == 4) break;
    }
    std::string key = pin.substr(0, end);
    while (Utf8ToUtf16(key).size() < 4) key += ' ';
    return key;
}

std::string EncipherSmsText(const std::string& utf8Text, const std::string& key) {
    std::string data = FreshNonce() + utf8Text;
    const TKeyedNonce kn = MakeKeyedNonce(key, std::string_view(data).substr(0, NonceOctets));
    XorKeystream(kn, data, NonceOctets);
    data += CheckValue(kn, data);
    return ToBody(data);
}

std::optional<std::string> DecipherSmsText(const std::string& body, const std::string& key) {
    std::optional<std::string> data = FromBody(body);
    if (!data || data->size() < NonceOctets + CheckOctets) return std::nullopt;
    const size_t cipherEnd = data->size() - CheckOctets;
    const TKeyedNonce kn = MakeKeyedNonce(key, std::string_view(*data).substr(0, NonceOctets));
    if (CheckValue(kn, std::string_view(*data).substr(0, cipherEnd)) != data->substr(cipherEnd))
        return std::nullopt;
    data->resize(cipherEnd);
    XorKeystream(kn, *data, NonceOctets);
    return data->substr(NonceOctets);
}
