#pragma once
#include <cstdint>
#include <string>

#ifdef _WIN32
#include "fw/String.h"
#endif

// MD5 message digest (RFC 1321). The stub uses the upper-case hexadecimal text of a file's
// digest both as the integrity value of the installer and as the source of the settings key.
class CMD5Checksum {
 public:
  CMD5Checksum();
  virtual ~CMD5Checksum();

#ifdef _WIN32
  // Checksum text of the whole file, or the empty text when it cannot be opened or read.
  static CString ChecksumOfFile(const CString& path);
#endif

  // Feeds bytes into the digest (RFC 1321 MD5Update).
  void AddData(const unsigned char* data, uint32_t count);
  // One compression of a 64-byte block into the state (RFC 1321 MD5Transform).
  void ProcessBlock(const unsigned char block[64]);
  // Pads, appends the length and returns the digest as 32 upper-case hexadecimal characters.
  std::wstring Finish();
  // The same, but the raw 16-byte digest.
  void FinishDigest(unsigned char out[16]);

 private:
  unsigned char m_abBuffer[64];  // bytes of an incomplete block
  uint32_t m_adwCount[2];        // message length in bits, low word first
  uint32_t m_adwState[4];        // A, B, C, D
};
