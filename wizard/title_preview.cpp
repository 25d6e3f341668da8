#include "wizard/title_preview.h"

#include "platform/file_system.h"
#include "tessmar/include/tessmar.h"
#include "wizard/title_key.h"

namespace wizard {

PreviewGeometry PreviewGeometryFor(bool widescreen) {
  if (!widescreen) return kPreviewDesign;
  const int height = kPreviewWidth * 9 / 16;
  return {kPreviewDesign.Top + (kPreviewDesign.Height - height) / 2, height};
}

int32_t PreviewFrameNumber(int32_t frame_count, int position, int maximum) {
  if (maximum <= 0) return 0;
  return static_cast<int32_t>(static_cast<int64_t>(frame_count - 1) * position / maximum);
}

QImage HalfSizeBitmap(int width, int height) {
  return QImage(width / 2, height / 2, QImage::Format_BGR888);
}

void HalvePicture(const uint8_t* bgr, int width, int height, QImage* half) {
  const int w = width / 2, h = height / 2;
  if (half->width() != w || half->height() != h || half->format() != QImage::Format_BGR888)
    *half = HalfSizeBitmap(width, height);
  const size_t row_bytes = static_cast<size_t>(width) * 3;
  for (int y = 0; y < h; ++y) {
    const uint8_t* from = bgr + static_cast<size_t>(2 * y) * row_bytes;
    uint8_t* to = half->scanLine(y);
    for (int x = 0; x < w; ++x, from += 6, to += 3) {
      // Format_BGR888 keeps the bytes in blue, green, red order.
      to[0] = from[0];
      to[1] = from[1];
      to[2] = from[2];
    }
  }
}

bool OpenTitleForPreview(const WizardState& state, const TitleChoice& title,
                         decoder::VideoInfo* info) {
  const std::string path = TitleVideoIndexPath(state, title);
  const bool film = decoder::FilmFlag(state.TitleSets.at(title.Vts).FilmShare);
  if (platform::FileExists(path) && decoder::OpenVideo(path, film, info)) return true;
  const std::string vts_base = TitleSetIndexBase(state, title.Vts);
  const std::string ifo = TitleSetIfoPath(state, title.Vts);
  const std::string title_base = TitleBase(state, title);
  if (qmRebuild(vts_base.c_str(), ifo.c_str(), title_base.c_str(), 1, 0, 0, title.Pgc,
                title.Angle) != 1)
    return false;
  return decoder::OpenVideo(path, film, info);
}

}  // namespace wizard
