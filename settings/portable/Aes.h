#pragma once
#include <cstdint>

// AES-128 (FIPS-197) on exactly one 16-byte block. The stub only deciphers; the forward
// cipher exists for the packaging tool, which writes the enciphered settings values.
class AES {
 public:
  // Reads exactly the first 16 bytes of key.
  explicit AES(const unsigned char* key);
  virtual ~AES();

  // Deciphers the first 16 bytes of block in place and returns block. Bytes after the
  // first 16 are never touched. The object keeps no state between calls.
  unsigned char* DecryptBlock(unsigned char* block) const;

 private:
  // 11 round keys, round 0 first, each in input byte order (byte r + 4*c is row r, column c).
  unsigned char m_abRoundKeys[176];
};

// Enciphers one block in place under a 128-bit key (FIPS-197 Cipher).
void AesEncryptBlock(const unsigned char key[16], unsigned char block[16]);
