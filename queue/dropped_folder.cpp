#include "queue/dropped_folder.h"

#include "platform/file_system.h"
#include "queue/job_file.h"

namespace queue {

namespace {

bool HoldsDvdFiles(const std::string& folder) {
  return !platform::FindFiles(folder, "VIDEO_TS.IFO").empty() ||
         !platform::FindFiles(folder, "VTS_??_0.IFO").empty();
}

bool IsDvdFolder(const std::string& folder) {
  if (HoldsDvdFiles(folder)) return true;
  for (const std::string& video_ts :
       platform::FindFiles(folder, "VIDEO_TS", platform::SearchKind::Directories)) {
    if (HoldsDvdFiles(platform::JoinPath(folder, video_ts))) return true;
  }
  return false;
}

}  // namespace

DroppedFolder ReadDrop(const std::vector<std::string>& paths) {
  DroppedFolder drop;
  if (paths.size() != 1) return drop;
  const std::string folder = platform::WithoutTrailingSeparators(paths.front());
  if (folder.empty() || folder[0] != '/' || !platform::DirectoryExists(folder)) return drop;
  drop.folder = folder;
  if (platform::FileExists(JobFilePathOf(folder)))
    drop.meaning = DropMeaning::AddJob;
  else if (IsDvdFolder(folder))
    drop.meaning = DropMeaning::NewJob;
  return drop;
}

}  // namespace queue
