// SHA-256 and its HMAC, for the signature of the JSON webhook: the receiver recomputes it over
// the body with the shared key. Portable, so that both builds test it against the published
// test vectors.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

std::array<std::uint8_t, 32> Sha256(std::string_view data);
std::array<std::uint8_t, 32> HmacSha256(std::string_view key, std::string_view data);
// Lower-case hexadecimal, two digits a byte.
std::string HexOf(const std::array<std::uint8_t, 32>& digest);
