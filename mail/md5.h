// MD5 (RFC 1321), HMAC-MD5 (RFC 2104) and the CRAM-MD5 answer (RFC 2195) that SMTP
// authentication sends. Our own code, so that it works whatever crypto policy the system's
// TLS library runs under. Pure code; an Md5 object belongs to one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mail {

using Md5Digest = std::array<std::uint8_t, 16>;

class Md5 {
 public:
  Md5();
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;

  // Starts a digest.
  void Init();
  // Feeds bytes when a digest was started; returns whether one was (else nothing happens).
  bool Update(const void* data, std::size_t length);
  // Writes the digest and wipes the state; false and nothing written when no digest was
  // started (also for a second Final).
  bool Final(Md5Digest& digest);

 private:
  void Transform(const std::uint8_t block[64]);
  void Wipe();

  bool active_ = false;
  std::uint32_t state_[4];
  std::uint64_t bitCount_;  // modulo 2^64
  std::uint8_t block_[64];
};

// The MD5 digest of the data.
Md5Digest Md5Of(std::string_view data);

// HMAC-MD5 of the data under the key; a key longer than 64 bytes is hashed first. Always true.
bool HmacMd5(Md5Digest& digest, const void* data, std::size_t dataLength, const void* key,
             std::size_t keyLength);
Md5Digest HmacMd5(std::string_view data, std::string_view key);

// The 32 lower-case hex digits of a digest.
std::string ToHexLower(const Md5Digest& digest);

// The Base64 answer line of CRAM-MD5: Base64 of user, a blank and the hex HMAC-MD5 of the
// decoded challenge under the password. The challenge is the text of the server's 334 line;
// blanks and tabs at its end are ignored. False, and answer left empty, when the challenge
// is not valid Base64. User and password are used exactly as given.
bool MakeCramMd5Response(std::string& answer, std::string_view challenge, std::string_view user,
                         std::string_view password);

}  // namespace mail
