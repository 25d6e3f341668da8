#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "queue/job_store.h"
#include "wizard/wizard_state.h"

namespace wizard {

// --- volumes and their files ---------------------------------------------

// Number of volumes: VolumeCount in FixedSize with split volumes, else one
// (the other modes leave splitting to the encoder's roll-over size).
int VolumeCountOf(const JobSettings& settings);
// Output frames of each volume but the last: FrameCount / volumes.
int FramesPerVolume(const JobSettings& settings);
// "out01.avs", "out01.rpjf" for volume 1.
std::string VolumeScriptName(int volume);
std::string VolumeJobFileName(int volume);
// Where the encoder writes volume `volume` of `volumes`, relative to the
// job's data folder so that it lands in the job folder: "../Name.rmvb" for a
// single volume, else "../Name (2of3).rmvb".
std::string VolumeOutputPath(const std::string& job_name, int volume, int volumes);

// The frameserver plug-ins of the scripts: "qmvideo.dll" always,
// "Decomb.dll" with inverse telecine or deinterlacing, the audio format's
// source plug-in with audio, "VSFilter.dll" with burnt-in subtitles.
std::vector<std::string> PluginFilesOf(const JobSettings& settings);

// The frameserver script of volume `volume` (1 ... VolumeCountOf), or the
// preview script (`preview`; `volume` is ignored), with CR LF line ends.
// `title_key` names the chosen title's files ("vts01_pgc01_a0"). Empty when
// the settings name an audio or sub-picture stream the title does not have.
std::string FormatScript(const JobSettings& settings, const std::string& title_key, int volume,
                         bool preview);

// The name the chosen title's VobSub index gives the data file of
// sub-picture stream `stream`: "vts01_pgc01_a0_st0.sub".
std::string SubtitleDataFileName(const std::string& title_key, int stream);

// --- the writer ------------------------------------------------------------

// Writes the files of the job of `state` into its JobDataFolder: the scripts,
// the encoder job files, the plug-in copies and the first JobFile. Widget
// free; the configuration page and the command-line front end use it alike.
class JobWriter {
 public:
  // `program_folder` holds the plug-ins that are copied into the job.
  JobWriter(WizardState& state, std::string program_folder);

  // The volume scripts (out01.avs ...) or the preview script, then the copies
  // of the plug-ins they load (a copy already in the data folder is kept).
  // Before a script burns subtitles in, the stream's data file is renamed to
  // the name the title's VobSub index expects, and SubtitleFiles of the title
  // set records it. False at the first file that cannot be written, renamed
  // or copied; what was written before stays.
  bool WriteScripts(bool preview);

  // One encoder job file per volume (out01.rpjf ...); false at the first
  // that cannot be written.
  bool WriteEncoderJobFiles();

  // The first JobFile: the job's name, `date_text`, no volume done and no
  // times yet. False when it cannot be created or written completely.
  bool WriteFirstJobFile(const std::string& date_text);

 private:
  bool WriteScript(const std::string& path, int volume, bool preview);
  bool PlaceSubtitleDataFile();
  bool CopyPlugins();

  WizardState& state_;
  std::string program_folder_;
};

// --- Finish ----------------------------------------------------------------

// Appends the job in a folder to the queue: the queue window's
// AddJobFromFolder, or a job store's for a front end without windows.
using AddJobToQueue = std::function<queue::JobStore::AddResult(const std::string& folder)>;

// What Finish did and what to tell the user.
struct FinishResult {
  bool added = false;           // the job is complete and in the queue
  bool folder_removed = false;  // the job folder was removed after a failure
  std::string message;          // empty: nothing to say
  platform::MessageIcon icon = platform::MessageIcon::Error;
};

inline constexpr const char* kUnableToSaveJobMessage = "Unable to save job!";
inline constexpr const char* kJobCorruptedMessage = "Job is corrupted!";
inline constexpr const char* kUnableToAddJobMessage = "Unable to add job to the list!";

// Writes the job (scripts, encoder job files, plug-ins, first JobFile with
// `date_text`) and adds it to the queue. A writer or JobFile failure removes
// the job folder with everything in it; when the queue refuses the job its
// files stay.
FinishResult FinishJob(WizardState& state, const std::string& program_folder,
                       const std::string& date_text, const AddJobToQueue& add_job);

// The current local date and time in the user's format: a job's creation
// text (the queue compares it whole and never parses it).
std::string JobDateText();

}  // namespace wizard
