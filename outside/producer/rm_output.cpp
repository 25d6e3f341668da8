#include "outside/producer/rm_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/error.h>
}

namespace producer {
namespace {

// Where a packet's time stamp sits in its header: version (2), length (2),
// stream (2), then the time in milliseconds (4, big-endian).
constexpr int kTimestampOffset = 6;

// Where the picture rate sits in a video stream's type-specific data: "VIDO",
// the codec's tag, width, height, bit count, padded width and height (2 each),
// then the rate in 16.16 fixed point (4, big-endian).
constexpr int kFrameRateOffset = 18;

// The muxer writes the picture rate as a whole number, so that 29.97 frames
// per second were read back as 29; the exact rate is written over it once
// the header is final.
bool WriteExactFrameRate(int fd, AVRational rate) {
  unsigned char head[4096];
  const ssize_t length = ::pread(fd, head, sizeof head, 0);
  for (ssize_t i = 0; i + kFrameRateOffset + 4 <= length; ++i) {
    if (std::memcmp(head + i, "VIDO", 4) != 0) continue;
    const auto fixed = static_cast<uint32_t>(std::lround(av_q2d(rate) * 65536.0));
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(fixed >> 24), static_cast<unsigned char>(fixed >> 16),
        static_cast<unsigned char>(fixed >> 8), static_cast<unsigned char>(fixed)};
    return ::pwrite(fd, bytes, 4, i + kFrameRateOffset) == 4;
  }
  return false;
}

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(code, text, sizeof text);
  return text;
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
  std::string ignored;
  if (context_) ClosePart(&ignored);
  avcodec_parameters_free(&video_parameters_);
  avcodec_parameters_free(&audio_parameters_);
}

std::unique_ptr<RealMediaOutput> RealMediaOutput::Create(const std::string& path,
                                                         const ClipText& text,
                                                         const AVCodecContext* video,
                                                         const AVCodecContext* audio,
                                                         std::string* error) {
  std::unique_ptr<RealMediaOutput> output(new RealMediaOutput());
  output->first_path_ = path;
  output->text_ = text;
  output->frame_rate_ = av_inv_q(video->time_base);
  output->video_parameters_ = avcodec_parameters_alloc();
  if (!output->video_parameters_ ||
      avcodec_parameters_from_context(output->video_parameters_, video) < 0) {
    *error = "cannot describe the video stream";
    return nullptr;
  }
  if (audio) {
    output->audio_parameters_ = avcodec_parameters_alloc();
    if (!output->audio_parameters_ ||
        avcodec_parameters_from_context(output->audio_parameters_, audio) < 0) {
      *error = "cannot describe the audio stream";
      return nullptr;
    }
    output->audio_parameters_->frame_size = audio->frame_size;
  }
  if (!output->OpenPart(path, error)) return nullptr;
  return output;
}

bool RealMediaOutput::OpenPart(const std::string& path, std::string* error) {
  int rc = avformat_alloc_output_context2(&context_, nullptr, "rm", path.c_str());
  if (rc < 0 || !context_) {
    *error = "cannot make a RealMedia output: " + AvError(rc);
    return false;
  }
  AVStream* video = avformat_new_stream(context_, nullptr);
  if (!video || avcodec_parameters_copy(video->codecpar, video_parameters_) < 0) {
    *error = "cannot add the video stream";
    return false;
  }
  // The muxer numbers the frames and takes their rate from the time base.
  video->time_base = av_inv_q(frame_rate_);
  if (audio_parameters_) {
    AVStream* audio = avformat_new_stream(context_, nullptr);
    if (!audio || avcodec_parameters_copy(audio->codecpar, audio_parameters_) < 0) {
      *error = "cannot add the audio stream";
      return false;
    }
    audio->time_base = AVRational{1, audio_parameters_->sample_rate};
  }
  const std::pair<const char*, const std::string*> tags[] = {{"title", &text_.title},
                                                             {"author", &text_.author},
                                                             {"copyright", &text_.copyright},
                                                             {"comment", &text_.comment}};
  for (const auto& [key, value] : tags)
    if (!value->empty()) av_dict_set(&context_->metadata, key, value->c_str(), 0);
  rc = avio_open(&context_->pb, path.c_str(), AVIO_FLAG_WRITE);
  if (rc < 0) {
    *error = "cannot create \"" + path + "\": " + AvError(rc);
    avformat_free_context(context_);
    context_ = nullptr;
    return false;
  }
  files_.push_back(path);
  patch_fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  rc = avformat_write_header(context_, nullptr);
  if (rc < 0 || patch_fd_ < 0) {
    *error = "cannot write the RealMedia header of \"" + path + "\": " + AvError(rc);
    return false;
  }
  avio_flush(context_->pb);
  video_frames_ = 0;
  audio_frames_ = 0;
  return true;
}

bool RealMediaOutput::ClosePart(std::string* error) {
  bool ok = true;
  if (context_) {
    int rc = av_write_trailer(context_);
    if (rc < 0) {
      *error = "cannot end \"" + files_.back() + "\": " + AvError(rc);
      ok = false;
    }
    if (context_->pb) {
      // The trailer rewrites the header in place: the position is no size.
      avio_flush(context_->pb);
      const int64_t size = avio_size(context_->pb);
      closed_bytes_ += size > 0 ? size : 0;
      if (context_->pb->error < 0 && ok) {
        *error = "cannot write \"" + files_.back() + "\": " + AvError(context_->pb->error);
        ok = false;
      }
      avio_closep(&context_->pb);
    }
    avformat_free_context(context_);
    context_ = nullptr;
  }
  if (patch_fd_ >= 0) {
    if (ok && !WriteExactFrameRate(patch_fd_, frame_rate_)) {
      *error = "cannot write the picture rate into \"" + files_.back() + "\"";
      ok = false;
    }
    if (::close(patch_fd_) != 0 && ok) {
      *error = "cannot write \"" + files_.back() + "\"";
      ok = false;
    }
    patch_fd_ = -1;
  }
  return ok;
}

int64_t RealMediaOutput::PartBytes() const {
  return context_ && context_->pb ? avio_tell(context_->pb) : 0;
}

bool RealMediaOutput::WriteVideo(const uint8_t* data, int size, bool key, std::string* error) {
  if (size > kMaxVideoPacketBytes) {
    *error = "a coded frame of " + std::to_string(size) + " bytes is larger than a packet holds";
    return false;
  }
  AVPacket* packet = av_packet_alloc();
  packet->data = const_cast<uint8_t*>(data);
  packet->size = size;
  packet->stream_index = 0;
  packet->pts = packet->dts = video_frames_;
  packet->duration = 1;
  if (key) packet->flags |= AV_PKT_FLAG_KEY;
  const int rc = av_write_frame(context_, packet);
  av_packet_free(&packet);
  if (rc < 0) {
    *error = "cannot write a video frame: " + AvError(rc);
    return false;
  }
  ++video_frames_;
  avio_flush(context_->pb);
  return true;
}

bool RealMediaOutput::WriteAudio(const uint8_t* data, int size, double start_seconds,
                                 std::string* error) {
  const int64_t position = avio_tell(context_->pb);
  AVPacket* packet = av_packet_alloc();
  packet->data = const_cast<uint8_t*>(data);
  packet->size = size;
  packet->stream_index = 1;
  packet->pts = packet->dts = audio_frames_ * audio_parameters_->frame_size;
  packet->duration = audio_parameters_->frame_size;
  packet->flags |= AV_PKT_FLAG_KEY;
  const int rc = av_write_frame(context_, packet);
  av_packet_free(&packet);
  if (rc < 0) {
    *error = "cannot write an audio frame: " + AvError(rc);
    return false;
  }
  ++audio_frames_;
  avio_flush(context_->pb);
  // The muxer knows no duration for AAC frames and stamps them all 0; the
  // time is written into the packet header here.
  const double milliseconds = std::max(0.0, (start_seconds - part_start_seconds_) * 1000);
  const uint32_t stamp = static_cast<uint32_t>(std::floor(milliseconds));
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(stamp >> 24), static_cast<unsigned char>(stamp >> 16),
      static_cast<unsigned char>(stamp >> 8), static_cast<unsigned char>(stamp)};
  if (::pwrite(patch_fd_, bytes, 4, position + kTimestampOffset) != 4) {
    *error = "cannot write \"" + files_.back() + "\"";
    return false;
  }
  return true;
}

bool RealMediaOutput::StartNextPart(double start_seconds, std::string* error) {
  if (!ClosePart(error)) return false;
  part_start_seconds_ = start_seconds;
  return OpenPart(PartFileName(first_path_, static_cast<int>(files_.size()) + 1), error);
}

bool RealMediaOutput::Finish(std::string* error) {
  return ClosePart(error);
}

}  // namespace producer
