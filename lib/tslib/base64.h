#pragma once
// Base64 encoding and decoding filters.
#include "tslib/filter.h"

// The standard alphabet: 64 symbols, then the pad character.
inline constexpr const char* kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

// A given alphabet (null for the standard one) must have exactly 65 characters, all
// different, else EINVAL.
Filter* base64_encoder_make(const char* alphabet);
// A strict decoder fails with EINVAL on a character outside the alphabet; a lenient one
// skips it. Pad characters are skipped in both.
Filter* base64_decoder_make(const char* alphabet, int strict);
