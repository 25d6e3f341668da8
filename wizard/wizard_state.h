#pragma once

#include <string>

#include "wizard/job_settings.h"
#include "wizard/title_set_table.h"

namespace wizard {

// A program chain and angle of a title set.
struct TitleChoice {
  int Vts = -1;
  int Pgc = -1;
  int Angle = -1;

  bool operator==(const TitleChoice&) const = default;
};

// The state the wizard's pages share while a job is being made. Folders are
// absolute; the ones documented "with a trailing /" carry it.
struct WizardState {
  std::string JobName;
  std::string JobFolder;          // location and name joined by one "/", none at the end
  std::string JobDataFolder;      // JobFolder + "/.kvnj/", the hidden work folder
  std::string DvdFolder;          // where the IFO and VOB files lie, with a trailing "/"
  std::string PreviewScriptPath;  // JobDataFolder + "preview.avs"
  std::string SourcePath;         // the DVD source as typed, without a trailing "/"
  bool UsesVideoTsSubfolder = false;

  bool FirstShow = true;
  int LastJobPathLength = 0;
  int LastSourcePathLength = 0;

  bool AnalysisRunning = false;
  bool AnalysisDone = false;
  bool AnalysisAborting = false;

  bool TreeStale = false;
  bool PreviewOpen = false;
  bool TitlePageEntered = false;
  bool SelectionChanged = false;
  int SelVts = 0;
  int SelPgc = 0;
  int SelAngle = 0;
  // The title for which the configuration page was last set up.
  TitleChoice PreparedTitle;
  std::string TitleKey;  // "vts%.2d_pgc%.2d_a%d" of the chosen title

  // Written by the analysis worker while the pages do not read it.
  TitleSetTable TitleSets;

  // The transcoding settings of the chosen title (configuration page).
  JobSettings Settings;

  TitleChoice Selection() const { return {SelVts, SelPgc, SelAngle}; }
  const TitleSetInfo& SelectedTitleSet() const { return TitleSets.at(SelVts); }
  const PgcInfo& SelectedPgc() const { return TitleSets.at(SelVts).Pgcs.at(SelPgc); }
};

}  // namespace wizard
