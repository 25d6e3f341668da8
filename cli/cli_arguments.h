#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "wizard/job_options.h"

namespace cli {

enum class CommandKind { Scan, New, List, Encode, Remove, Add, Move };

// A program chain and angle as "VTS:PGC[:ANGLE]" (angle 0: none given).
struct TitleArgument {
  int Vts = 0;
  int Pgc = 0;
  int Angle = 0;
};

// Crop margins in pixels, as the configuration page's four fields.
using CropMargins = wizard::CropMargins;
using CropChoice = wizard::CropChoice;
using IvtcChoice = wizard::IvtcChoice;
enum class ShutdownChoice { None, AfterAll, AfterJobs, AfterVolumes };

// Options of "new": the job's name, folders and titles, and the changes of
// the wizard's proposal (what is not given keeps it).
struct NewJobArguments : wizard::JobOptions {
  // The job's name; with several titles, a pattern or the first part of
  // "NAME - VTS_vv PGC pp".
  std::string Name;
  std::string Destination;
  std::string DvdFolder;
  // The titles in the order given; none: the longest, or with AllTitles
  // every program chain of at least MinLengthMinutes.
  std::vector<TitleArgument> Titles;
  bool AllTitles = false;
  std::optional<double> MinLengthMinutes;
};

struct EncodeArguments {
  bool All = false;
  std::string Job;  // a job folder, a job name or its number in "list"
  std::optional<std::string> Priority;
  ShutdownChoice Shutdown = ShutdownChoice::None;
  int ShutdownCount = 0;
};

enum class MoveWhere { Up, Down, First, Last };

// "remove JOB", "add FOLDER", "move JOB WHERE".
struct QueueEditArguments {
  std::string Job;  // its number in "list", its name or its folder
  std::string Folder;
  MoveWhere Where = MoveWhere::Up;
};

// The outcome of reading the command line: a command to run, a help text to
// print (exit 0), or a one-line error naming the bad argument (exit 2).
struct CliRequest {
  CommandKind Command = CommandKind::List;
  bool Json = false;
  bool NamesOnly = false;  // list --names
  std::string ScanFolder;
  NewJobArguments New;
  EncodeArguments Encode;
  QueueEditArguments Edit;

  std::string HelpText;
  std::string Error;

  bool WantsHelp() const { return !HelpText.empty(); }
  bool Failed() const { return !Error.empty(); }
};

// Reads the arguments after the program name.
CliRequest ParseArguments(const std::vector<std::string>& arguments);

// The gain in dB as the slider step it stands for (-12..12 in steps of 0.2).
std::optional<int> GainStepOfDecibels(const std::string& text);

}  // namespace cli
