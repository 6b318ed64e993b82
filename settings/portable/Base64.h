#pragma once
#include <cstddef>
#include <string>

// Decodes base64 (RFC 4648 alphabet, "=" padding, no line breaks) the way the settings values
// are stored. On success *out is a malloc'ed buffer of *outLen + 1 bytes whose last byte is
// zero; the caller frees it. On failure nothing is allocated and *out, *outLen are untouched.
// Fails for a null text, a length that is not a multiple of 4, or any character outside the
// alphabet met before the output is complete (spaces, line breaks, "=" inside the text).
bool Base64Decode(const char* text, unsigned char** out, size_t* outLen);

// Standard base64 with "=" padding and no line breaks.
std::string Base64Encode(const unsigned char* data, size_t n);
