#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wizard/title_facts.h"
#include "wizard/wizard_state.h"

namespace wizard {

// What preparing a title needs, copied from the wizard before the work
// starts so that the work reads nothing the wizard owns.
struct PreparationInput {
  std::string JobDataFolder;
  std::string DvdFolder;
  TitleChoice Title;
  bool Film = false;  // film flag of the title set
  int PictureWidth = 0;
  int PictureHeight = 0;
};
// The title chosen on the title page (SelVts, SelPgc, SelAngle).
PreparationInput PreparationInputFor(const WizardState& state);

// Where an audio stream of the prepared title starts, from its audio map.
struct TitleAudioDelay {
  int StreamNumber = 0;
  int DelayMs = 0;
};

struct PreparationResult {
  bool Ok = false;
  std::string Error;     // the message for the user when it failed
  std::string TitleKey;  // set in either case
  int32_t FrameCount = -1;
  PictureRect DetectedRect;
  uint8_t BorderState = 255;
  std::vector<TitleAudioDelay> AudioDelays;
};

// Cuts the title's files out of its title set's indexes (the video files
// only when its video index is missing; its audio maps and VobSub indexes
// always), counts its frames as a player shows them, finds its black
// borders and reads where each of its audio streams starts. Runs on any thread; it uses the
// process-wide decoder, so the caller has closed the preview before.
PreparationResult PrepareTitle(const PreparationInput& input);

// Each value made even, rounding towards zero.
PictureRect EvenRect(const PictureRect& rect);

// Stores the outcome of preparing `title`: on success its program chain
// gets the frame count, the borders, the prepared angle and its audio
// streams' delays; on failure the chain counts as unprepared and no title as
// set up for the configuration.
void ApplyPreparation(WizardState& state, const TitleChoice& title,
                      const PreparationResult& result);

}  // namespace wizard
