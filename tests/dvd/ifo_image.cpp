#include "tests/dvd/ifo_image.h"

#include <algorithm>

namespace kv_test {

void PutBe16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<uint8_t>(value >> 8);
  bytes[at + 1] = static_cast<uint8_t>(value);
}

void PutBe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  PutBe16(bytes, at, static_cast<uint16_t>(value >> 16));
  PutBe16(bytes, at + 2, static_cast<uint16_t>(value));
}

uint32_t GetBe32(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<uint32_t>(bytes[at]) << 24 | static_cast<uint32_t>(bytes[at + 1]) << 16 |
         static_cast<uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

namespace {

void PutLanguage(std::vector<uint8_t>& bytes, size_t at, const std::string& language) {
  if (language.size() != 2) return;  // stays 0x0000
  bytes[at] = static_cast<uint8_t>(language[0]);
  bytes[at + 1] = static_cast<uint8_t>(language[1]);
}

}  // namespace

std::vector<uint8_t> IfoImage::Build() const {
  std::vector<uint8_t> bytes(2048, 0);
  std::copy_n(identifier.begin(), std::min<size_t>(identifier.size(), 12), bytes.begin());
  PutBe32(bytes, 0xCC, pgci_sector);
  bytes[0x203] = audio_count;
  for (size_t k = 0; k < audio.size(); ++k) {
    size_t at = 0x204 + 8 * k;
    bytes[at + 1] = static_cast<uint8_t>((audio[k].channels - 1) & 0x07);
    PutLanguage(bytes, at + 2, audio[k].language);
    bytes[at + 5] = audio[k].code_extension;
  }
  bytes[0x255] = subpicture_count;
  for (size_t k = 0; k < subpicture_languages.size() && k < 32; ++k)
    PutLanguage(bytes, 0x256 + 6 * k + 2, subpicture_languages[k]);
  if (pgci_sector == 0) return bytes;

  std::vector<uint8_t> table(8 + 8 * pgcs.size(), 0);
  PutBe16(table, 0, static_cast<uint16_t>(pgcs.size()));
  for (size_t i = 0; i < pgcs.size(); ++i) {
    const PgcImage& image = pgcs[i];
    size_t start = table.size();
    PutBe32(table, 8 + 8 * i, 0x81000000u + static_cast<uint32_t>(i));  // category
    PutBe32(table, 12 + 8 * i, static_cast<uint32_t>(start));
    table.resize(start + kImagePgcHeaderSize + 24 * image.block_modes.size(), 0);
    table[start + 3] = static_cast<uint8_t>(image.block_modes.size());
    std::copy(image.time.begin(), image.time.end(), table.begin() + start + 4);
    for (size_t k = 0; k < 8; ++k) {
      table[start + 0x0C + 2 * k] = image.audio_control[k][0];
      table[start + 0x0C + 2 * k + 1] = image.audio_control[k][1];
    }
    for (size_t k = 0; k < 32; ++k)
      std::copy(image.subpicture_control[k].begin(), image.subpicture_control[k].end(),
                table.begin() + start + 0x1C + 4 * k);
    if (!image.block_modes.empty()) PutBe16(table, start + 0xE8, kImagePgcHeaderSize);
    for (size_t c = 0; c < image.block_modes.size(); ++c)
      table[start + kImagePgcHeaderSize + 24 * c] = static_cast<uint8_t>(image.block_modes[c] << 6);
  }
  PutBe32(table, 4, static_cast<uint32_t>(table.size() - 1));
  bytes.resize(2048 * static_cast<size_t>(pgci_sector), 0);
  bytes.insert(bytes.end(), table.begin(), table.end());
  bytes.resize((bytes.size() + 2047) / 2048 * 2048, 0);
  return bytes;
}

std::string IfoImage::BuildString() const {
  std::vector<uint8_t> bytes = Build();
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::vector<uint8_t>> SeedImages() {
  IfoImage plain;
  plain.audio_count = 2;
  plain.subpicture_count = 3;
  plain.subpicture_languages = {"en", "fr", "de"};
  PgcImage chain;
  chain.block_modes = {0, 1, 2, 3, 0};
  chain.audio_control[0] = {0x80, 0};
  plain.pgcs = {chain, chain};

  IfoImage big = plain;
  big.pgcs.assign(30, chain);  // table over several sectors

  IfoImage empty;
  return {plain.Build(), big.Build(), empty.Build()};
}

}  // namespace kv_test
