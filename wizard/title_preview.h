#pragma once

#include <QImage>
#include <cstdint>

#include "decoder/video_decoder.h"
#include "wizard/wizard_state.h"

namespace wizard {

// Where the preview picture sits: the design's place for 4:3 titles, a
// 16:9 band centred in it for wide-screen titles (same width).
struct PreviewGeometry {
  int Top = 0;
  int Height = 0;
};
inline constexpr int kPreviewWidth = 240;
inline constexpr PreviewGeometry kPreviewDesign{13, 180};
PreviewGeometry PreviewGeometryFor(bool widescreen);

// The frame the preview bar shows at `position` of 0 ... `maximum`.
int32_t PreviewFrameNumber(int32_t frame_count, int position, int maximum);

// Every second pixel of every second row (0, 2, 4 ...) of a blue-green-red
// frame into `half`, which has (width / 2) x (height / 2) pixels.
void HalvePicture(const uint8_t* bgr, int width, int height, QImage* half);
QImage HalfSizeBitmap(int width, int height);

// Opens `title` in the decoder for the preview with the film flag of its
// title set. When its video index is missing or does not open, only the
// video files are cut out of the title set's indexes, then it is opened.
bool OpenTitleForPreview(const WizardState& state, const TitleChoice& title,
                         decoder::VideoInfo* info);

}  // namespace wizard
