#pragma once

#include <string>

#include "wizard/wizard_state.h"

namespace kv_test {

// Analyses a DVD folder as the wizard's analysis page does, without its
// windows and logs: the job folders under `job_folder`, an index run of
// every title set with audio and sub-pictures into the job's data folder, and
// the title sets' facts from the run and the IFO files in `state.TitleSets`.
// The paths of `state` are set. Returns the number of usable title sets.
int AnalyseDisc(const std::string& dvd_folder, const std::string& job_folder,
                wizard::WizardState& state);

// The sample disc `disc` analysed into a job folder `job_folder`.
int AnalyseSampleDisc(const std::string& disc, const std::string& job_folder,
                      wizard::WizardState& state);

// A copy of the sample disc's VIDEO_TS folder at `to`/VIDEO_TS, for tests
// that damage it; returns the copy's VIDEO_TS path.
std::string CopySampleDisc(const std::string& disc, const std::string& to);

}  // namespace kv_test
