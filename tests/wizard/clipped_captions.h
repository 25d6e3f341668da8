#pragma once

#include <QFont>
#include <string>
#include <vector>

class QWidget;

namespace kv_test {

// Names (or captions) of the visible controls under `root` whose caption is
// cut: a label or button whose text, measured by its font, does not fit the
// rectangle it is drawn in (a wrapped label: its longest word across, its
// wrapped lines down), a list or group box smaller than its items or title
// need, or a control that reaches outside one of its parents.
std::vector<std::string> ClippedCaptions(QWidget* root);

// The application's font made `factor` times the desktop's for the life of
// the object (a layout test's parameter), the desktop's again afterwards.
class ScaledApplicationFont {
 public:
  explicit ScaledApplicationFont(double factor);
  ~ScaledApplicationFont();
  ScaledApplicationFont(const ScaledApplicationFont&) = delete;
  ScaledApplicationFont& operator=(const ScaledApplicationFont&) = delete;

 private:
  QFont desktop_font_;
};

}  // namespace kv_test
