#include "queue/job_frames.h"

#include "platform/file_system.h"
#include "queue/job_file.h"
#include "tessmar/formats/index_text.h"
#include "tessmar/formats/video_index.h"

namespace queue {
namespace {

constexpr char kFirstVolumeScript[] = "out01.avs";
// The video source line of a volume script names its index first:
// qmVideoSource("vts01_pgc01_a0.qmvi", ...).
constexpr char kVideoSourceCall[] = "qmVideoSource(\"";

// The bare file name of the index the script decodes; empty without one.
std::string VideoIndexNamedBy(const std::string& script) {
  const size_t call = script.find(kVideoSourceCall);
  if (call == std::string::npos) return "";
  const size_t begin = call + sizeof kVideoSourceCall - 1;
  const size_t end = script.find('"', begin);
  if (end == std::string::npos) return "";
  std::string name = script.substr(begin, end - begin);
  // Only a file beside the script counts.
  if (name.empty() || name.find('/') != std::string::npos) return "";
  return name;
}

}  // namespace

std::optional<int64_t> JobFrameCount(const std::string& job_folder) {
  const std::string data_folder = JobDataFolderOf(job_folder);
  std::string script;
  if (!tessmar::formats::ReadWholeFile(platform::JoinPath(data_folder, kFirstVolumeScript),
                                       &script))
    return std::nullopt;
  const std::string index_name = VideoIndexNamedBy(script);
  std::string text;
  if (index_name.empty() ||
      !tessmar::formats::ReadWholeFile(platform::JoinPath(data_folder, index_name), &text))
    return std::nullopt;
  tessmar::formats::VideoIndex index;
  if (!tessmar::formats::ParseVideoIndex(text, &index) || index.flags.empty()) return std::nullopt;
  return static_cast<int64_t>(index.flags.size());
}

}  // namespace queue
