// The two keyed primitives behind the SMS cipher: the ChaCha20 block function
// (RFC 8439) as a keystream and SipHash-2-4 as a short keyed check value.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

using TChaChaKey = std::array<uint8_t, 32>;
using TChaChaNonce = std::array<uint8_t, 12>;
using TChaChaBlock = std::array<uint8_t, 64>;
using TSipKey = std::array<uint8_t, 16>;

// One 64-octet keystream block for the given block counter.
TChaChaBlock ChaCha20Block(const TChaChaKey& key, uint32_t counter, const TChaChaNonce& nonce);

// The 64-bit SipHash-2-4 of data under key.
uint64_t SipHash24(const TSipKey& key, std::string_view data);
