// RC4 stream cipher. Jet masks part of the header page with it and, in databases that use Access's
// "encrypt database" option, every page after the header.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace jet {

class Rc4 {
 public:
  explicit Rc4(std::span<const std::uint8_t> key);
  // XORs the key stream into `data` (the same call encrypts and decrypts).
  void Apply(std::span<std::uint8_t> data);

 private:
  std::array<std::uint8_t, 256> s_{};
  std::uint8_t i_ = 0;
  std::uint8_t j_ = 0;
};

}  // namespace jet
