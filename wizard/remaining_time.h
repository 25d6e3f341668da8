#pragma once

#include <string>

namespace wizard {

// What the analysis page shows of the estimated time left. While the labels
// are hidden an estimate shows only when it is within 30 seconds of the one
// before it, so that a first rough estimate or a jumping one stays hidden.
class RemainingTimeView {
 public:
  void Reset() { *this = RemainingTimeView(); }
  void Update(int seconds);

  bool Visible() const { return visible_; }
  const std::string& Text() const { return text_; }

 private:
  bool visible_ = false;
  std::string text_ = "? minutes";
  int previous_ = 0;
};

// "1 second", "%d seconds", "1 minute", "%d minutes".
std::string RemainingTimeText(int seconds);

}  // namespace wizard
