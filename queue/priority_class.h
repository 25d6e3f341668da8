#pragma once

namespace queue {

// The priority classes the encoder can be started with.
enum class PriorityClass { Idle, Normal, High, Realtime };

// The class of a PriorityCombo index: 0 Idle, 2 High, 3 Realtime, anything
// else Normal.
inline PriorityClass PriorityClassOf(int index) {
  switch (index) {
    case 0:
      return PriorityClass::Idle;
    case 2:
      return PriorityClass::High;
    case 3:
      return PriorityClass::Realtime;
    default:
      return PriorityClass::Normal;
  }
}

// The nice value a class stands for on this platform.
inline int NiceValueOf(PriorityClass priority) {
  switch (priority) {
    case PriorityClass::Idle:
      return 19;
    case PriorityClass::High:
      return -10;
    case PriorityClass::Realtime:
      return -20;
    case PriorityClass::Normal:
      break;
  }
  return 0;
}

}  // namespace queue
