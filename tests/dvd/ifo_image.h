#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kv_test {

// Builds title set information files byte by byte for the reader's tests,
// laid out as DVD-Video lays them out: header sector, then the program chain
// table from sector `pgci_sector`.
struct PgcImage {
  std::array<uint8_t, 4> time = {0x00, 0x01, 0x00, 0x40};  // BCD, rate code 01
  std::vector<uint8_t> block_modes;                        // one cell each
  std::array<std::array<uint8_t, 2>, 8> audio_control = {};
  std::array<std::array<uint8_t, 4>, 32> subpicture_control = {};
};

struct AudioAttrImage {
  int channels = 2;
  std::string language = "en";  // two letters, or empty for 0x0000
  uint8_t code_extension = 1;
};

struct IfoImage {
  std::string identifier = "DVDVIDEO-VTS";
  uint8_t audio_count = 0;
  std::array<AudioAttrImage, 8> audio;
  uint8_t subpicture_count = 0;
  std::vector<std::string> subpicture_languages;  // record k gets entry k
  std::vector<PgcImage> pgcs;
  uint32_t pgci_sector = 1;  // 0 = no table

  // The file; sector padded.
  std::vector<uint8_t> Build() const;
  std::string BuildString() const;
};

// Offsets of the built image, for tests that damage it on purpose.
inline constexpr size_t kImagePgciOffset = 2048;
inline constexpr size_t kImagePgcHeaderSize = 0xEC;

// A few well-formed images: starting points for the fuzzer and the replay test.
std::vector<std::vector<uint8_t>> SeedImages();

void PutBe16(std::vector<uint8_t>& bytes, size_t at, uint16_t value);
void PutBe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value);
uint32_t GetBe32(const std::vector<uint8_t>& bytes, size_t at);

}  // namespace kv_test
