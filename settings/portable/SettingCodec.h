#pragma once
#include <string>

// The stored form of a settings value: the value's 8-bit text, zero-padded to at least one
// 16-byte block, its first block AES-128 enciphered, the whole written as base64.

// Decodes a stored value into its 8-bit text (bytes up to the first zero byte). An empty
// stored text decodes to the empty text. Fails, leaving plain8 untouched, for a null text,
// text that is not base64, or data shorter than one block.
bool DecodeSettingBytes(const char* storedText, const unsigned char key[16], std::string& plain8);

// The inverse, for the packaging tool: the empty text stays empty; otherwise the text is
// zero-padded to a multiple of 16 bytes (at least 16), its first block enciphered, then base64.
std::string EncodeSettingBytes(const std::string& plain8, const unsigned char key[16]);

// The settings key is the first 16 characters of the payload module's checksum text, one byte
// each. False (key untouched) when the text is shorter than 16 characters or one of them is
// not ASCII.
bool SettingKeyFromChecksumText(const std::wstring& md5Text, unsigned char key[16]);
