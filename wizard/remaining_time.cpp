#include "wizard/remaining_time.h"

#include <cstdlib>

namespace wizard {

namespace {

constexpr int kSteadyEstimate = 30;  // seconds between two estimates

}  // namespace

std::string RemainingTimeText(int seconds) {
  if (seconds < 60) return seconds == 1 ? "1 second" : std::to_string(seconds) + " seconds";
  const int minutes = seconds / 60;
  return minutes == 1 ? "1 minute" : std::to_string(minutes) + " minutes";
}

void RemainingTimeView::Update(int seconds) {
  if (seconds == 0) {
    visible_ = false;
    return;
  }
  if (!visible_ && std::abs(seconds - previous_) > kSteadyEstimate) {
    previous_ = seconds;
    return;
  }
  previous_ = seconds;
  text_ = RemainingTimeText(seconds);
  visible_ = true;
}

}  // namespace wizard
