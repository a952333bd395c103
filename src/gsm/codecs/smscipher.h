// The cipher of enciphered text messages. The body uses only letters, digits,
// '+' and '/', which the GSM 7-bit default alphabet carries as single septets;
// the frame around it ("66" ... "BB" sent, "55" ... "AA" received) is the
// callers'. A four-character key hides a text from a casual reader and no more.
#pragma once

#include <optional>
#include <string>

// The four-character key of a PIN text: a blank one gives four spaces, a longer one
// its first four characters, a shorter one is filled with spaces. The sender enciphers
// the key in front of the text; the receiver finds it there again.
std::string SmsCipherKey(const std::string& pin);

// The enciphered body of a UTF-8 text: a fresh random nonce, the text XORed
// with a keystream of the key and nonce, and a keyed check value.
std::string EncipherSmsText(const std::string& utf8Text, const std::string& key);

// The text back, or std::nullopt when the key is wrong or the body damaged.
std::optional<std::string> DecipherSmsText(const std::string& body, const std::string& key);
