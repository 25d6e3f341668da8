#include "outside/producer/rm_output.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <iterator>

#include "dvd/byte_order.h"

namespace producer {
namespace {

// Chunk names and their fixed sizes.
constexpr char kFileChunk[] = ".RMF";
constexpr char kPropertiesChunk[] = "PROP";
constexpr char kContentChunk[] = "CONT";
constexpr char kStreamChunk[] = "MDPR";
constexpr char kDataChunk[] = "DATA";
constexpr uint32_t kFileChunkBytes = 18;
constexpr uint32_t kPropertiesChunkBytes = 50;
constexpr uint32_t kDataHeaderBytes = 18;
// Every chunk starts with its name, its size and a version.
constexpr uint32_t kChunkHeadBytes = 10;
// A packet's header: version, length, stream, time, group and flags.
constexpr int kPacketHeaderBytes = 12;
constexpr uint8_t kKeyPacketFlag = 2;
// The file information's property types.
constexpr uint32_t kPropertyNumber = 0;
constexpr uint32_t kPropertyText = 2;
// A string of the content header holds at most this many bytes.
constexpr size_t kMaxContentText = 0xFFFF;
// Stream numbers.
constexpr int kVideoStream = 0;
constexpr int kAudioStream = 1;

const char kVideoName[] = "The Video Stream";
const char kVideoType[] = "video/x-pn-realvideo";
const char kAudioName[] = "The Audio Stream";
const char kAudioType[] = "audio/x-pn-realaudio";
const char kFileInfoType[] = "logical-fileinfo";

// Big-endian numbers and strings appended to a header being built.
class Bytes {
 public:
  std::vector<uint8_t> data;
  void U8(uint32_t v) { data.push_back(static_cast<uint8_t>(v)); }
  void U16(uint32_t v) {
    U8(v >> 8);
    U8(v);
  }
  void U32(uint32_t v) {
    U16(v >> 16);
    U16(v & 0xFFFF);
  }
  // Byte by byte: GCC 12 at -O1 with -fsanitize=thread takes the range insert
  // into the still empty vector for an overflow (-Wstringop-overflow).
  void Tag(const char* four) {
    for (int i = 0; i < 4; ++i) U8(static_cast<uint8_t>(four[i]));
  }
  void Raw(const std::string& s) { data.insert(data.end(), s.begin(), s.end()); }
  void Text8(const std::string& s) {
    const std::string t = s.substr(0, 0xFF);
    U8(static_cast<uint32_t>(t.size()));
    Raw(t);
  }
  void Text16(const std::string& s) {
    const std::string t = s.substr(0, kMaxContentText);
    U16(static_cast<uint32_t>(t.size()));
    Raw(t);
  }
  // A frame header's number: 14 bits with the 0x4000 mark, or 30 bits.
  void Number(uint32_t v) {
    if (v < 0x4000)
      U16(0x4000 | v);
    else
      U32(v);
  }
  void Append(const Bytes& other) { data.insert(data.end(), other.data.begin(), other.data.end()); }
  uint32_t Size() const { return static_cast<uint32_t>(data.size()); }
};

int NumberBytes(int64_t v) {
  return v < 0x4000 ? 2 : 4;
}

// The stream chunk's codec data of the video stream: "VIDO", the codec,
// the size, a bit count, two unused words, the rate in 16.16, and the
// codec's own 8 bytes (its version: RealVideo 2.0 coded as basic H.263).
Bytes VideoCodecData(const VideoStreamFormat& v) {
  Bytes b;
  b.U32(34);
  b.Tag("VIDO");
  b.Tag("RV20");
  b.U16(static_cast<uint32_t>(v.width));
  b.U16(static_cast<uint32_t>(v.height));
  b.U16(12);  // bits per pixel of 4:2:0
  b.U32(0);
  b.U32(static_cast<uint32_t>(std::lround(av_q2d(v.frame_rate) * 65536.0)));
  b.data.insert(b.data.end(), std::begin(kRv20CodecBytes), std::end(kRv20CodecBytes));
  return b;
}

// The sample rate's code in the audio header.
uint32_t RateCode(int rate) {
  switch (rate) {
    case 48000:
    case 24000:
    case 12000:
      return 1;
    case 32000:
    case 16000:
    case 8000:
      return 3;
    default:
      return 2;
  }
}

// The stream chunk's codec data of the audio stream: a version 4 audio
// header that names AAC ("raac") with no codec data of its own.
Bytes AudioCodecData(const AudioStreamFormat& a) {
  const auto frame_bytes =
      static_cast<uint32_t>(a.bit_rate * a.frame_size / (8 * std::max(1, a.sample_rate)));
  const auto bytes_per_minute = static_cast<uint32_t>(a.bit_rate / 8 * 60);
  Bytes b;
  b.Raw(".ra");
  b.U8(0xFD);
  b.U32(0x00040000);  // version 4
  b.Tag(".ra4");
  b.U32(0x01B53530);  // the stream's length: unknown when the header is written
  b.U16(4);
  b.U32(0x39);  // the header's size
  b.U16(RateCode(a.sample_rate));
  b.U32(frame_bytes);
  b.U32(0x51540);
  b.U32(bytes_per_minute);
  b.U32(bytes_per_minute);
  b.U16(1);  // one frame per packet
  b.U16(frame_bytes);
  b.U32(0);
  b.U16(static_cast<uint32_t>(a.sample_rate));
  b.U32(0x10);
  b.U16(static_cast<uint32_t>(a.channels));
  b.Text8("Int0");
  b.Text8("raac");
  b.U16(0);  // no title, author or copyright of its own
  b.U16(0);
  b.U16(0);
  b.U8(0);
  return b;
}

// The file information: name-value properties, texts and numbers: the
// keywords and the content rating.
Bytes FileInfoData(const ClipText& text) {
  struct Property {
    std::string name;
    uint32_t type;
    Bytes value;
  };
  std::vector<Property> properties;
  auto add_text = [&](const char* name, const std::string& value) {
    Property p{name, kPropertyText, {}};
    p.value.Raw(value.substr(0, kMaxContentText));
    properties.push_back(std::move(p));
  };
  // The other texts are in the content header (readers take both into one
  // list, where the same names would stand twice).
  add_text("Keywords", text.keywords);
  Property rating{"Content Rating", kPropertyNumber, {}};
  rating.value.U32(static_cast<uint32_t>(std::max(0, text.rating)));
  properties.push_back(std::move(rating));

  Bytes list;
  for (const Property& p : properties) {
    Bytes one;
    one.U16(0);  // version
    one.Text8(p.name);
    one.U32(p.type);
    one.U16(p.value.Size());
    one.Append(p.value);
    list.U32(one.Size() + 4);
    list.Append(one);
  }
  Bytes b;
  b.U16(0);  // version
  b.U16(0);  // no physical streams
  b.U16(0);  // no rules
  b.U16(static_cast<uint32_t>(properties.size()));
  b.Append(list);
  Bytes sized;
  sized.U32(b.Size() + 4);
  sized.Append(b);
  return sized;
}

// Where a frame of two pieces is split. FFmpeg's decoder reads the first
// piece's slice on into the second unless the bits left before the split
// look like a slice's end (all zero), so the first piece ends on a byte
// whose last bit is set, near the middle.
int SplitPoint(const uint8_t* data, int size) {
  const int middle = (size + 1) / 2;
  for (int step = 0; step < 4096; ++step) {
    for (const int at : {middle + step, middle - step}) {
      if (at > 0 && at <= kMaxVideoPacketBytes && size - at <= kMaxVideoPacketBytes &&
          (data[at - 1] & 1))
        return at;
    }
  }
  return middle;
}

}  // namespace

std::string PartFileName(const std::string& first, int part) {
  if (part <= 1) return first;
  const size_t slash = first.rfind('/');
  const size_t dot = first.rfind('.');
  const bool has_extension =
      dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string stem = has_extension ? first.substr(0, dot) : first;
  const std::string extension = has_extension ? first.substr(dot) : "";
  return stem + "_" + std::to_string(part) + extension;
}

RealMediaOutput::~RealMediaOutput() {
  if (file_) std::fclose(file_);
}

std::unique_ptr<RealMediaOutput> RealMediaOutput::Create(const std::string& path,
                                                         const ClipText& text,
                                                         const VideoStreamFormat& video,
                                                         const AudioStreamFormat* audio,
                                                         std::string* error) {
  std::unique_ptr<RealMediaOutput> output(new RealMediaOutput());
  output->first_path_ = path;
  output->text_ = text;
  output->video_ = video;
  if (audio) output->audio_ = *audio;
  if (video.frame_rate.num <= 0 || video.frame_rate.den <= 0) {
    *error = "the video stream has no frame rate";
    return nullptr;
  }
  if (!output->OpenPart(path, error)) return nullptr;
  return output;
}

double RealMediaOutput::Seconds(int64_t frame) const {
  return static_cast<double>(frame) * video_.frame_rate.den / video_.frame_rate.num;
}

std::vector<uint8_t> RealMediaOutput::Header() const {
  const int streams = audio_ ? 2 : 1;
  int64_t packets = 0, bytes = 0, largest = 0;
  uint32_t duration = 0;
  for (const StreamCount& c : counts_) {
    packets += c.packets;
    bytes += c.bytes;
    largest = std::max(largest, c.largest);
    duration = std::max(duration, c.last_milliseconds);
  }
  const int64_t audio_rate = audio_ ? audio_->bit_rate : 0;
  Bytes chunks;
  // Content header.
  const std::string* texts[] = {&text_.title, &text_.author, &text_.copyright, &text_.comment};
  Bytes content;
  for (const std::string* t : texts) content.Text16(*t);
  chunks.Tag(kContentChunk);
  chunks.U32(kChunkHeadBytes + content.Size());
  chunks.U16(0);
  chunks.Append(content);
  // One stream chunk per stream, then the file information.
  for (int s = 0; s <= streams; ++s) {
    const bool info = s == streams;
    const StreamCount& c = counts_[info ? 0 : s];
    Bytes codec = info                ? FileInfoData(text_)
                  : s == kVideoStream ? VideoCodecData(video_)
                                      : AudioCodecData(*audio_);
    const char* name = info ? "" : s == kVideoStream ? kVideoName : kAudioName;
    const char* type = info ? kFileInfoType : s == kVideoStream ? kVideoType : kAudioType;
    const int64_t average = info ? 0 : s == kVideoStream ? video_.average_bit_rate : audio_rate;
    const int64_t maximum = info ? 0 : s == kVideoStream ? video_.maximum_bit_rate : audio_rate;
    Bytes body;
    body.U16(static_cast<uint32_t>(s));
    body.U32(static_cast<uint32_t>(maximum));
    body.U32(static_cast<uint32_t>(average));
    body.U32(info ? 0 : static_cast<uint32_t>(c.largest));
    body.U32(info || c.packets == 0 ? 0 : static_cast<uint32_t>(c.bytes / c.packets));
    body.U32(0);  // start time
    body.U32(0);  // preroll
    body.U32(info ? 0 : c.last_milliseconds);
    body.Text8(name);
    body.Text8(type);
    body.U32(codec.Size());
    body.Append(codec);
    chunks.Tag(kStreamChunk);
    chunks.U32(kChunkHeadBytes + body.Size());
    chunks.U16(0);
    chunks.Append(body);
  }
  const uint32_t data_offset = kFileChunkBytes + kPropertiesChunkBytes + chunks.Size();
  Bytes head;
  head.Tag(kFileChunk);
  head.U32(kFileChunkBytes);
  head.U16(0);
  head.U32(0);                                   // file version
  head.U32(static_cast<uint32_t>(4 + streams));  // headers after this one
  head.Tag(kPropertiesChunk);
  head.U32(kPropertiesChunkBytes);
  head.U16(0);
  head.U32(static_cast<uint32_t>(video_.maximum_bit_rate + audio_rate));
  head.U32(static_cast<uint32_t>(video_.average_bit_rate + audio_rate));
  head.U32(static_cast<uint32_t>(largest));
  head.U32(packets ? static_cast<uint32_t>(bytes / packets) : 0);
  head.U32(static_cast<uint32_t>(packets));
  head.U32(duration);
  head.U32(0);  // preroll
  head.U32(0);  // no index
  head.U32(data_offset);
  head.U16(static_cast<uint32_t>(streams));
  head.U16(1 | 2);  // may be saved, plays perfectly
  head.Append(chunks);
  head.Tag(kDataChunk);
  head.U32(static_cast<uint32_t>(kDataHeaderBytes + bytes));
  head.U16(0);
  head.U32(static_cast<uint32_t>(packets));
  head.U32(0);  // no further data chunk
  return head.data;
}

bool RealMediaOutput::Put(const std::vector<uint8_t>& bytes, std::string* error) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    *error = "cannot write \"" + files_.back() + "\": " + std::strerror(errno);
    return false;
  }
  part_bytes_ += static_cast<int64_t>(bytes.size());
  return true;
}

bool RealMediaOutput::OpenPart(const std::string& path, std::string* error) {
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) {
    *error = "cannot create \"" + path + "\": " + std::strerror(errno);
    return false;
  }
  files_.push_back(path);
  for (StreamCount& c : counts_) c = StreamCount();
  part_bytes_ = 0;
  return Put(Header(), error);
}

bool RealMediaOutput::ClosePart(std::string* error) {
  if (!file_) return true;
  // The end: an empty packet header, as players expect.
  bool ok = Put(std::vector<uint8_t>(kTrailerBytes, 0), error);
  const std::vector<uint8_t> header = Header();
  if (ok && (std::fseek(file_, 0, SEEK_SET) != 0 ||
             std::fwrite(header.data(), 1, header.size(), file_) != header.size())) {
    *error = "cannot write the headers of \"" + files_.back() + "\"";
    ok = false;
  }
  if (std::fclose(file_) != 0 && ok) {
    *error = "cannot write \"" + files_.back() + "\": " + std::strerror(errno);
    ok = false;
  }
  file_ = nullptr;
  closed_bytes_ += part_bytes_;
  part_bytes_ = 0;
  return ok;
}

int64_t VideoPacketOverhead(int64_t bytes) {
  // Per packet: its header, the two kind bytes, the frame's size, the
  // piece's offset (the first of two: 0) or length, and the picture's
  // number. A frame of two pieces is larger than a 14-bit number.
  if (bytes <= kMaxVideoPacketBytes) return kPacketHeaderBytes + 3 + 2 * NumberBytes(bytes);
  return 2 * (kPacketHeaderBytes + 3 + 4) + 2 + 4;
}

bool RealMediaOutput::PutPacket(int stream, uint32_t milliseconds, bool key,
                                const std::vector<uint8_t>& head, const uint8_t* data, int size,
                                std::string* error) {
  const int length = kPacketHeaderBytes + static_cast<int>(head.size()) + size;
  Bytes packet;
  packet.U16(0);
  packet.U16(static_cast<uint32_t>(length));
  packet.U16(static_cast<uint32_t>(stream));
  packet.U32(milliseconds);
  packet.U8(0);
  packet.U8(key ? kKeyPacketFlag : 0);
  packet.data.insert(packet.data.end(), head.begin(), head.end());
  packet.data.insert(packet.data.end(), data, data + size);
  if (!Put(packet.data, error)) return false;
  StreamCount& c = counts_[stream];
  ++c.packets;
  c.bytes += length;
  c.largest = std::max<int64_t>(c.largest, length);
  c.last_milliseconds = std::max(c.last_milliseconds, milliseconds);
  return true;
}

bool RealMediaOutput::WriteVideo(const uint8_t* data, int size, bool key, int64_t frame,
                                 std::string* error) {
  if (size <= 0 || size > kMaxVideoFrameBytes) {
    *error = "a coded frame of " + std::to_string(size) + " bytes is larger than " +
             std::to_string(kMaxVideoFrameBytes) + " bytes";
    return false;
  }
  const auto milliseconds = static_cast<uint32_t>(
      std::max(0.0, std::floor((Seconds(frame) - Seconds(part_first_frame_)) * 1000 + 1e-6)));
  // The frame header: its kind (bits 7-6: a piece, or the last piece) and
  // the pieces less one; the piece's number from 1 with the key bit; the
  // frame's size; the piece's offset, or for the last piece its length; the
  // picture's number.
  const int pieces = (size + kMaxVideoPacketBytes - 1) / kMaxVideoPacketBytes;
  const int split = pieces == 1 ? size : SplitPoint(data, size);
  const auto picture = static_cast<uint8_t>(counts_[kVideoStream].frames & 0xFF);
  for (int k = 0; k < pieces; ++k) {
    const int offset = k == 0 ? 0 : split;
    const int length = k == 0 ? split : size - split;
    const bool last = k + 1 == pieces;
    Bytes head;
    head.U8((last ? 0x80u : 0x00u) | static_cast<uint32_t>(std::max(1, pieces - 1)));
    head.U8((key ? 0x80u : 0x00u) | static_cast<uint32_t>(k + 1));
    head.Number(static_cast<uint32_t>(size));
    head.Number(static_cast<uint32_t>(last ? length : offset));
    head.U8(picture);
    if (!PutPacket(kVideoStream, milliseconds, key, head.data, data + offset, length, error))
      return false;
  }
  ++counts_[kVideoStream].frames;
  return true;
}

bool RealMediaOutput::WriteAudio(const uint8_t* data, int size, double start_seconds,
                                 std::string* error) {
  if (!audio_) {
    *error = "the file has no audio stream";
    return false;
  }
  const double milliseconds =
      std::max(0.0, (start_seconds - Seconds(part_first_frame_)) * 1000 + 1e-6);
  ++counts_[kAudioStream].frames;
  return PutPacket(kAudioStream, static_cast<uint32_t>(std::floor(milliseconds)), true, {}, data,
                   size, error);
}

bool RealMediaOutput::StartNextPart(int64_t first_frame, std::string* error) {
  if (!ClosePart(error)) return false;
  part_first_frame_ = first_frame;
  return OpenPart(PartFileName(first_path_, static_cast<int>(files_.size()) + 1), error);
}

bool RealMediaOutput::Finish(std::string* error) {
  return ClosePart(error);
}

void RealMediaOutput::Discard() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  for (const std::string& f : files_) ::unlink(f.c_str());
  files_.clear();
}

std::optional<RealMediaHeaderFacts> ReadRealMediaHeader(const std::string& path,
                                                        std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *error = "cannot open \"" + path + "\"";
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(1 << 20);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  std::fclose(file);
  RealMediaHeaderFacts facts;
  uint32_t property_packets = 0;
  size_t at = 0;
  auto fail = [&](const std::string& why) {
    *error = path + ": " + why;
    return std::nullopt;
  };
  auto text = [&](size_t& p, size_t width) {
    if (p + width > bytes.size()) return std::string();
    const size_t n = width == 1 ? bytes[p] : dvd::Be16(&bytes[p]);
    p += width;
    if (p + n > bytes.size()) return std::string();
    std::string s(bytes.begin() + static_cast<ptrdiff_t>(p),
                  bytes.begin() + static_cast<ptrdiff_t>(p + n));
    p += n;
    return s;
  };
  while (at + kChunkHeadBytes <= bytes.size()) {
    const std::string tag(bytes.begin() + static_cast<ptrdiff_t>(at),
                          bytes.begin() + static_cast<ptrdiff_t>(at + 4));
    const uint32_t size = dvd::Be32(&bytes[at + 4]);
    if (tag == kDataChunk) {
      if (at + kDataHeaderBytes > bytes.size()) return fail("the data chunk is cut");
      facts.packets = dvd::Be32(&bytes[at + 10]);
      if (facts.packets != property_packets) return fail("the packet counts disagree");
      return facts;
    }
    if (size < kChunkHeadBytes || at + size > bytes.size()) return fail("a chunk is cut");
    size_t p = at + kChunkHeadBytes;
    if (tag == kPropertiesChunk) {
      property_packets = dvd::Be32(&bytes[p + 16]);
      facts.duration_ms = dvd::Be32(&bytes[p + 20]);
    } else if (tag == kContentChunk) {
      for (const char* key : {"title", "author", "copyright", "comment"})
        facts.content[key] = text(p, 2);
    } else if (tag == kStreamChunk) {
      const uint32_t maximum = dvd::Be32(&bytes[p + 2]);
      p += 30;
      text(p, 1);
      const std::string type = text(p, 1);
      p += 4;
      if (type == kVideoType && p + 26 <= at + size) {
        facts.max_bit_rate = maximum;
        facts.frame_rate = dvd::Be32(&bytes[p + 22]) / 65536.0;
      } else if (type == kFileInfoType && p + 12 <= at + size) {
        // Size, version, no streams, no rules, then the properties.
        const uint32_t count = dvd::Be16(&bytes[p + 10]);
        p += 12;
        for (uint32_t i = 0; i < count && p + 4 <= at + size; ++i) {
          const size_t next = p + dvd::Be32(&bytes[p]);
          size_t q = p + 6;
          const std::string name = text(q, 1);
          const uint32_t kind = q + 4 <= bytes.size() ? dvd::Be32(&bytes[q]) : 99;
          q += 4;
          const std::string value = text(q, 2);
          facts.properties[name] =
              kind == kPropertyNumber && value.size() == 4
                  ? std::to_string(dvd::Be32(reinterpret_cast<const uint8_t*>(value.data())))
                  : value;
          p = next;
        }
      }
    }
    at += size;
  }
  return fail("no data chunk");
}

}  // namespace producer
