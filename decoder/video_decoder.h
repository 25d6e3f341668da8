// The program's side of the qmvideo decoder: one process-wide open video
// (the title page's preview, frame counting, the crop dialog), with its
// open flag and the record it was opened with.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace decoder {

// What the callers show when the decoder fails them (caption "Kestrevane").
inline constexpr char kPreviewFailedMessage[] =
    "Unable to preview selected title! The DVD is probably damaged!";
inline constexpr char kFrameFailedMessage[] =
    "Error detected in the selected title! The DVD is probably damaged!";
inline constexpr char kFrameCountFailedMessage[] =
    "Frame count detection failed! The DVD is probably damaged!";
inline constexpr char kBorderDetectionFailedMessage[] =
    "Border detection failed! The DVD is probably damaged!";

// The three values the program reads of the library's video record.
struct VideoInfo {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t FrameCount = 0;

  bool operator==(const VideoInfo&) const = default;
};

// The film flag of a title set: 1 when its film share, truncated, is at
// least 1 (coded frames), else 0 (the frames a player shows).
bool FilmFlag(float film_share);

// Opens the ".qmvi" at `path`, closing the open video first. Success sets
// the open flag and keeps the record; a null record or a width, height or
// frame count of 0 is a failure and leaves nothing open.
bool OpenVideo(const std::string& path, bool film, VideoInfo* info = nullptr);
// Closes the open video; nothing when none is open.
void CloseVideo();
bool VideoIsOpen();
// The record of the open video (all 0 when none is open).
VideoInfo OpenVideoInfo();
// Frame `frame` of the open video: width x height pixels of 3 bytes (blue,
// green, red), rows top to bottom without padding; valid until the next
// request. Null when no video is open, for a frame outside 0 ... count - 1
// (the library is not asked), or when the library fails.
const uint8_t* GetFrame(int32_t frame);

// Opens the title for the caller alone, without the open flag (a video the
// program has open is closed first), hands `use` its record and a frame
// source, and closes it again. False when the open fails or `use` does.
using FrameSource = std::function<const uint8_t*(int32_t frame)>;
bool UseVideoAlone(const std::string& path, bool film,
                   const std::function<bool(const VideoInfo&, const FrameSource&)>& use);

}  // namespace decoder
