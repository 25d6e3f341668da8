#pragma once

#include "wizard/job_settings.h"

namespace wizard {

// The filter and codec fields of JobSettings as the option dialogs list
// them: each list's index stands for a combination of fields.

// Deinterlace "None", "Normal", "Full"; inverse telecine "None", "Simple",
// "Complex"; field order "Top field first", "Bottom field first".
struct FilterChoice {
  int Deinterlace = 0;
  int Ivtc = 0;
  int FieldOrder = 0;
};

FilterChoice FilterChoiceOf(const JobSettings& settings);
// Stores the choice ("None" turns a filter off and leaves its kind), then
// the output frame rate and duration that follow from it. Inverse telecine
// and deinterlacing never run together: a chosen inverse telecine wins.
void ApplyFilterChoice(JobSettings& settings, FilterChoice choice);

// maxConsecutiveBFrames by list index and back.
inline constexpr int kMaxBFramesValues[] = {0, 1, 3};
int MaxBFramesIndex(int value);

}  // namespace wizard
