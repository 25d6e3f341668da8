#pragma once

#include <string>
#include <vector>

namespace queue {

// What a folder dropped on the queue window means.
enum class DropMeaning {
  None,    // nothing the queue can take
  NewJob,  // a DVD folder, or its VIDEO_TS folder: New Job with it as the source
  AddJob,  // a job folder: added as Add Job adds it
};

struct DroppedFolder {
  DropMeaning meaning = DropMeaning::None;
  std::string folder;  // the folder as dropped, without a trailing "/"
};

// Reads the local paths of a drop. Only one folder is taken; files, several
// items and folders that are neither a job nor a DVD mean nothing.
// A job folder holds ".kvnj/.kvnj"; a DVD folder holds title set files
// ("VTS_01_0.IFO" or "VIDEO_TS.IFO", any case) itself or in its VIDEO_TS
// folder. Whether the DVD holds a usable title is the wizard's question.
DroppedFolder ReadDrop(const std::vector<std::string>& paths);

}  // namespace queue
