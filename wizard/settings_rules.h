#pragma once

#include "wizard/job_settings.h"

namespace wizard {

// The rules of what goes together in a job's settings, each in one place
// (the limits of sizes and bit rates are in job_settings.h, those of the crop
// in crop_rules.h):
// JobSettings and the changes in settings_changes.h keep to them, the
// configuration page and its dialogs enable their controls by them, and the
// command line refuses what they rule out.

// Constant quality encodes in one pass.
bool TwoPassAllowed(const JobSettings& s);

// An automatic crop needs detected borders, and gives way to burnt-in
// subtitles.
bool AutoCropAllowed(const JobSettings& s);

// Curve compression needs the analysis pass, and encodes every frame.
bool CurveCompressionAllowed(const JobSettings& s);

}  // namespace wizard
