#include "wizard/option_choices.h"

namespace wizard {

FilterChoice FilterChoiceOf(const JobSettings& settings) {
  FilterChoice choice;
  choice.Deinterlace = !settings.Deinterlace ? 0 : settings.DeinterlaceFull ? 2 : 1;
  choice.Ivtc = !settings.Ivtc ? 0 : settings.IvtcComplex ? 2 : 1;
  choice.FieldOrder = settings.TopFieldFirst ? 0 : 1;
  return choice;
}

void ApplyFilterChoice(JobSettings& settings, FilterChoice choice) {
  if (choice.Ivtc != 0) choice.Deinterlace = 0;
  settings.Deinterlace = choice.Deinterlace != 0;
  if (settings.Deinterlace) settings.DeinterlaceFull = choice.Deinterlace == 2;
  settings.Ivtc = choice.Ivtc != 0;
  if (settings.Ivtc) settings.IvtcComplex = choice.Ivtc == 2;
  settings.TopFieldFirst = choice.FieldOrder == 0;
  settings.ApplyFilterFrameRate();
}

int MaxBFramesIndex(int value) {
  for (int i = 0; i < 3; ++i) {
    if (kMaxBFramesValues[i] == value) return i;
  }
  return 2;
}

}  // namespace wizard
