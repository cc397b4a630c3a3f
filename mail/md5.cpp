#include "mail/md5.h"

#include <algorithm>
#include <cstring>

#include "mail/base64.h"

namespace mail {

namespace {

constexpr std::uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

constexpr std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// Clears memory in a way the optimiser keeps.
void SecureZero(void* p, std::size_t n) {
  volatile auto* v = static_cast<volatile std::uint8_t*>(p);
  while (n-- > 0) *v++ = 0;
}

}  // namespace

Md5::Md5() { Wipe(); }

Md5::~Md5() { Wipe(); }

void Md5::Wipe() {
  SecureZero(state_, sizeof state_);
  SecureZero(&bitCount_, sizeof bitCount_);
  SecureZero(block_, sizeof block_);
  active_ = false;
}

void Md5::Init() {
  Wipe();
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  active_ = true;
}

bool Md5::Update(const void* data, std::size_t length) {
  if (!active_) return false;
  if (length == 0) return true;
  const auto* in = static_cast<const std::uint8_t*>(data);
  std::size_t used = static_cast<std::size_t>((bitCount_ >> 3) & 63);
  bitCount_ += static_cast<std::uint64_t>(length) << 3;
  if (used > 0) {
    const std::size_t take = std::min(length, 64 - used);
    std::memcpy(block_ + used, in, take);
    in += take;
    length -= take;
    used += take;
    if (used < 64) return true;
    Transform(block_);
  }
  for (; length >= 64; in += 64, length -= 64) Transform(in);
  if (length > 0) std::memcpy(block_, in, length);
  return true;
}

bool Md5::Final(Md5Digest& digest) {
  if (!active_) return false;
  std::uint8_t length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(bitCount_ >> (8 * i));
  const std::size_t used = static_cast<std::size_t>((bitCount_ >> 3) & 63);
  static const std::uint8_t kPadding[64] = {0x80};
  Update(kPadding, used < 56 ? 56 - used : 120 - used);
  Update(length, 8);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<std::uint8_t>(state_[i] >> (8 * j));
  }
  Wipe();
  return true;
}

void Md5::Transform(const std::uint8_t block[64]) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = std::uint32_t{block[4 * i]} | std::uint32_t{block[4 * i + 1]} << 8 |
           std::uint32_t{block[4 * i + 2]} << 16 | std::uint32_t{block[4 * i + 3]} << 24;
  }
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    const int round = i / 16;
    std::uint32_t f;
    int k;
    switch (round) {
      case 0:
        f = (b & c) | (~b & d);
        k = i;
        break;
      case 1:
        f = (b & d) | (c & ~d);
        k = (5 * i + 1) % 16;
        break;
      case 2:
        f = b ^ c ^ d;
        k = (3 * i + 5) % 16;
        break;
      default:
        f = c ^ (b | ~d);
        k = (7 * i) % 16;
        break;
    }
    const std::uint32_t next = b + Rotl(a + f + x[k] + kT[i], kShift[round][i % 4]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  SecureZero(x, sizeof x);
}

Md5Digest Md5Of(std::string_view data) {
  Md5 md5;
  md5.Init();
  md5.Update(data.data(), data.size());
  Md5Digest digest{};
  md5.Final(digest);
  return digest;
}

bool HmacMd5(Md5Digest& digest, const void* data, std::size_t dataLength, const void* key,
             std::size_t keyLength) {
  Md5Digest hashedKey;
  if (keyLength > 64) {
    hashedKey = Md5Of(std::string_view(static_cast<const char*>(key), keyLength));
    key = hashedKey.data();
    keyLength = hashedKey.size();
  }
  std::uint8_t inner[64] = {};
  std::uint8_t outer[64] = {};
  if (keyLength > 0) {
    std::memcpy(inner, key, keyLength);
    std::memcpy(outer, key, keyLength);
  }
  for (int i = 0; i < 64; ++i) {
    inner[i] ^= 0x36;
    outer[i] ^= 0x5c;
  }
  Md5 md5;
  Md5Digest innerDigest;
  md5.Init();
  md5.Update(inner, sizeof inner);
  md5.Update(data, dataLength);
  md5.Final(innerDigest);
  md5.Init();
  md5.Update(outer, sizeof outer);
  md5.Update(innerDigest.data(), innerDigest.size());
  md5.Final(digest);
  SecureZero(inner, sizeof inner);
  SecureZero(outer, sizeof outer);
  SecureZero(hashedKey.data(), hashedKey.size());
  return true;
}

Md5Digest HmacMd5(std::string_view data, std::string_view key) {
  Md5Digest digest;
  HmacMd5(digest, data.data(), data.size(), key.data(), key.size());
  return digest;
}

std::string ToHexLower(const Md5Digest& digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(32);
  for (std::uint8_t b : digest) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

bool MakeCramMd5Response(std::string& answer, std::string_view challenge, std::string_view user,
                         std::string_view password) {
  answer.clear();
  while (!challenge.empty() && (challenge.back() == ' ' || challenge.back() == '\t')) {
    challenge.remove_suffix(1);
  }
  std::string decoded;
  if (!Base64Decode(challenge, decoded)) return false;
  const Md5Digest digest = HmacMd5(decoded, password);
  std::string plain(user);
  plain += ' ';
  plain += ToHexLower(digest);
  answer = Base64Encode(plain);
  return true;
}

}  // namespace mail
