// Failures of the SMS codecs. Encoders raise them; decoders catch them and
// answer with their documented failure values instead.
#pragma once

#include <stdexcept>
#include <string>

class EGsmCodecError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Hex text that is not two upper-case digits per octet.
class EConvertError : public EGsmCodecError {
public:
    using EGsmCodecError::EGsmCodecError;
};

// A code unit the UCS-2 codec refuses (a surrogate).
class EUnicodeCodecException : public EGsmCodecError {
public:
    using EGsmCodecError::EGsmCodecError;
};
