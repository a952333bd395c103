#include "gsm/codecs/cipherprimitives.h"

#include <bit>

namespace {

uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint64_t LoadLe64(const uint8_t* p) { return LoadLe32(p) | uint64_t(LoadLe32(p + 4)) << 32; }

void QuarterRound(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d) {
    a += b, d ^= a, d = std::rotl(d, 16);
    c += d, b ^= c, b = std::rotl(b, 12);
    a += b, d ^= a, d = std::rotl(d, 8);
    c += d, b ^= c, b = std::rotl(b, 7);
}

void SipRound(uint64_t& v0, uint64_t& v1, uint64_t& v2, uint64_t& v3) {
    v0 += v1, v1 = std::rotl(v1, 13), v1 ^= v0, v0 = std::rotl(v0, 32);
    v2 += v3, v3 = std::rotl(v3, 16), v3 ^= v2;
    v0 += v3, v3 = std::rotl(v3, 21), v3 ^= v0;
    v2 += v1, v1 = std::rotl(v1, 17), v1 ^= v2, v2 = std::rotl(v2, 32);
}

}  // namespace

TChaChaBlock ChaCha20Block(const TChaChaKey& key, uint32_t counter, const TChaChaNonce& nonce) {
    uint32_t state[16] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
    for (int i = 0; i < 8; ++i) state[4 + i] = LoadLe32(&key[4 * i]);
    state[12] = counter;
    for (int i = 0; i < 3; ++i) state[13 + i] = LoadLe32(&nonce[4 * i]);

    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = state[i];
    for (int round = 0; round < 10; ++round) {
        QuarterRound(x[0], x[4], x[8], x[12]);
        QuarterRound(x[1], x[5], x[9], x[13]);
        QuarterRound(x[2], x[6], x[10], x[14]);
        QuarterRound(x[3], x[7], x[11], x[15]);
        QuarterRound(x[0], x[5], x[10], x[15]);
        QuarterRound(x[1], x[6], x[11], x[12]);
        QuarterRound(x[2], x[7], x[8], x[13]);
        QuarterRound(x[3], x[4], x[9], x[14]);
    }
    TChaChaBlock block;
    for (int i = 0; i < 16; ++i) {
        const uint32_t word = x[i] + state[i];
        for (int b = 0; b < 4; ++b) block[4 * i + b] = uint8_t(word >> (8 * b));
    }
    return block;
}

uint64_t SipHash24(const TSipKey& key, std::string_view data) {
    const uint64_t k0 = LoadLe64(&key[0]), k1 = LoadLe64(&key[8]);
    uint64_t v0 = k0 ^ 0x736f6d6570736575ull, v1 = k1 ^ 0x646f72616e646f6dull;
    uint64_t v2 = k0 ^ 0x6c7967656e657261ull, v3 = k1 ^ 0x7465646279746573ull;
    const auto* p = reinterpret_cast<const uint8_t*>(data.data());
    const size_t whole = data.size() / 8 * 8;
    for (size_t i = 0; i < whole; i += 8) {
        const uint64_t m = LoadLe64(p + i);
        v3 ^= m;
        SipRound(v0, v1, v2, v3);
        SipRound(v0, v1, v2, v3);
        v0 ^= m;
    }
    uint64_t last = uint64_t(data.size() & 0xFF) << 56;
    for (size_t i = whole; i < data.size(); ++i) last |= uint64_t(p[i]) << (8 * (i - whole));
    v3 ^= last;
    SipRound(v0, v1, v2, v3);
    SipRound(v0, v1, v2, v3);
    v0 ^= last;
    v2 ^= 0xff;
    for (int i = 0; i < 4; ++i) SipRound(v0, v1, v2, v3);
    return v0 ^ v1 ^ v2 ^ v3;
}
