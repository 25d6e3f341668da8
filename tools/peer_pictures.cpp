#include "tools/peer_pictures.h"

#include <cstring>

#include "outside/producer/rm_output.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace kv_tools {
namespace {

// One picture's planes, row by row (the decoder's rows are padded).
bool WritePicture(const AVFrame* frame, std::FILE* out) {
  for (int plane = 0; plane < 3; ++plane) {
    const int width = plane == 0 ? frame->width : (frame->width + 1) / 2;
    const int height = plane == 0 ? frame->height : (frame->height + 1) / 2;
    for (int y = 0; y < height; ++y) {
      const uint8_t* row = frame->data[plane] + static_cast<ptrdiff_t>(y) * frame->linesize[plane];
      if (std::fwrite(row, 1, static_cast<size_t>(width), out) != static_cast<size_t>(width))
        return false;
    }
  }
  return true;
}

// The decoder takes a frame as a RealMedia reader assembles it: the count
// of slices less one, each slice's flag word and offset (little-endian),
// then the coded bytes; the encoder's frames are one slice.
constexpr uint8_t kOneSliceHeader[9] = {0, 1, 0, 0, 0, 0, 0, 0, 0};

// Sends `coded` (null: the end) and writes every picture that comes out.
long long Decode(AVCodecContext* codec, const AVPacket* coded, AVFrame* frame, std::FILE* out) {
  AVPacket* packet = nullptr;
  if (coded) {
    packet = av_packet_alloc();
    if (!packet ||
        av_new_packet(packet, coded->size + static_cast<int>(sizeof kOneSliceHeader)) < 0) {
      av_packet_free(&packet);
      return -1;
    }
    std::memcpy(packet->data, kOneSliceHeader, sizeof kOneSliceHeader);
    std::memcpy(packet->data + sizeof kOneSliceHeader, coded->data,
                static_cast<size_t>(coded->size));
  }
  const int sent = avcodec_send_packet(codec, packet);
  av_packet_free(&packet);
  if (sent < 0) return -1;
  long long pictures = 0;
  while (avcodec_receive_frame(codec, frame) == 0) {
    if (frame->format != AV_PIX_FMT_YUV420P || !WritePicture(frame, out)) return -1;
    ++pictures;
  }
  return pictures;
}

// A decoder for the stream, its codec bytes in padded extra data.
AVCodecContext* OpenDecoder(const AVCodecParameters* stream) {
  const AVCodec* rv20 = avcodec_find_decoder(AV_CODEC_ID_RV20);
  AVCodecContext* codec = rv20 ? avcodec_alloc_context3(rv20) : nullptr;
  if (!codec) return nullptr;
  codec->width = stream->width;
  codec->height = stream->height;
  codec->extradata = static_cast<uint8_t*>(
      av_mallocz(sizeof producer::kRv20CodecBytes + AV_INPUT_BUFFER_PADDING_SIZE));
  if (codec->extradata) {
    std::memcpy(codec->extradata, producer::kRv20CodecBytes, sizeof producer::kRv20CodecBytes);
    codec->extradata_size = sizeof producer::kRv20CodecBytes;
  }
  if (!codec->extradata || avcodec_open2(codec, rv20, nullptr) < 0) avcodec_free_context(&codec);
  return codec;
}

}  // namespace

long long WriteNutRv20Pictures(const std::string& path, std::FILE* out) {
  AVFormatContext* format = nullptr;
  // The stream's size is in NUT's header; probing the stream for more
  // fails on the codec NUT does not name.
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return -1;
  }
  int video = -1;
  for (unsigned i = 0; i < format->nb_streams; ++i)
    if (format->streams[i]->codecpar->codec_tag == MKTAG('R', 'V', '2', '0'))
      video = static_cast<int>(i);
  AVCodecContext* codec = video < 0 ? nullptr : OpenDecoder(format->streams[video]->codecpar);
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  long long pictures = codec && packet && frame ? 0 : -1;
  while (pictures >= 0 && av_read_frame(format, packet) >= 0) {
    if (packet->stream_index == video) {
      const long long decoded = Decode(codec, packet, frame, out);
      pictures = decoded < 0 ? -1 : pictures + decoded;
    }
    av_packet_unref(packet);
  }
  if (pictures >= 0) {
    const long long decoded = Decode(codec, nullptr, frame, out);
    pictures = decoded < 0 ? -1 : pictures + decoded;
  }
  if (pictures < 0) std::fprintf(stderr, "cannot decode the RealVideo 2.0 of %s\n", path.c_str());
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&codec);
  avformat_close_input(&format);
  return pictures;
}

}  // namespace kv_tools
