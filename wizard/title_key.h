#pragma once

#include <cstdio>
#include <string>

#include "wizard/title_files.h"
#include "wizard/wizard_state.h"

namespace wizard {

// "vts%.2d_pgc%.2d_a%d": the base name of a chosen title's files in the job's
// data folder (angle 0 for a program chain without angles).
inline std::string TitleKeyFor(const TitleChoice& title) {
  char key[48];
  std::snprintf(key, sizeof key, "vts%.2d_pgc%.2d_a%d", title.Vts, title.Pgc, title.Angle);
  return key;
}

// The base of a title set's index files in the job's data folder ("vts%.2d").
inline std::string TitleSetIndexBase(const WizardState& state, int vts) {
  char base[16];
  std::snprintf(base, sizeof base, "vts%.2d", vts);
  return state.JobDataFolder + base;
}

// The title set's information file on the disc ("VTS_%.2d_0.IFO", found
// in any case, or its backup when the IFO is empty).
inline std::string TitleSetIfoPath(const WizardState& state, int vts) {
  return TitleSetInformationPath(state.DvdFolder, vts);
}

// JobDataFolder + the title's key: the base every file of the title is named after.
inline std::string TitleBase(const WizardState& state, const TitleChoice& title) {
  return state.JobDataFolder + TitleKeyFor(title);
}

// The title's video index, which the decoder opens.
inline std::string TitleVideoIndexPath(const WizardState& state, const TitleChoice& title) {
  return TitleBase(state, title) + ".qmvi";
}

}  // namespace wizard
