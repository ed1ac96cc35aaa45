// Comparison of numbers by their bits: memos and cache keys hit only on the
// very same inputs.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace lumora {

// The 80 bits of an extended value, without the padding of its storage.
struct Bits80 {
  uint64_t mantissa = 0;
  uint16_t signExponent = 0;
};
inline Bits80 BitsOf(const long double& v) {
  Bits80 bits;
  std::memcpy(&bits.mantissa, &v, sizeof bits.mantissa);
  std::memcpy(&bits.signExponent, reinterpret_cast<const char*>(&v) + sizeof bits.mantissa,
              sizeof bits.signExponent);
  return bits;
}

inline bool SameBits(double a, double b) {
  return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}
inline bool SameBits(const long double& a, const long double& b) {
  const Bits80 x = BitsOf(a);
  const Bits80 y = BitsOf(b);
  return x.mantissa == y.mantissa && x.signExponent == y.signExponent;
}

}  // namespace lumora
