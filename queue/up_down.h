#pragma once

#include <QLineEdit>
#include <QToolButton>
#include <QWidget>

namespace queue {

// An up-down control bound to an edit: its position is the number the edit
// shows, its arrows step it by the increment (one unless set) between the
// minimum and the maximum without wrapping. The maximum may be set below the minimum (an
// empty queue), which leaves the arrows without effect.
class UpDown : public QWidget {
  Q_OBJECT
 public:
  UpDown(QLineEdit* buddy, QWidget* parent);

  int Minimum() const { return minimum_; }
  int Maximum() const { return maximum_; }
  void SetMinimum(int minimum) { minimum_ = minimum; }
  void SetMaximum(int maximum) { maximum_ = maximum; }
  int Increment() const { return increment_; }
  void SetIncrement(int increment) { increment_ = increment > 0 ? increment : 1; }

  // The number in the edit (0 when it holds none).
  int Position() const;
  // Shows `position`, kept within the range when the range is not empty.
  void SetPosition(int position);
  // Shows a position and maximum kept elsewhere, as they are.
  void ShowState(int position, int maximum);

  void StepUp();
  void StepDown();

 signals:
  // SetPosition or an arrow changed the number shown.
  void PositionChanged(int position);

 private:
  QLineEdit* buddy_;
  QToolButton* up_;
  QToolButton* down_;
  int minimum_ = 1;
  int maximum_ = 1;
  int increment_ = 1;
};

}  // namespace queue
