#include "tests/wizard/analysed_disc.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "dvd/ifo_reader.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"

namespace kv_test {

namespace {

namespace fs = std::filesystem;

std::string Numbered(const char* format, int a, int b = 0) {
  char name[64];
  std::snprintf(name, sizeof name, format, a, b);
  return name;
}

bool AnalyseTitleSet(const wizard::WizardState& state, int n, wizard::TitleSetInfo& vts) {
  std::vector<std::string> vobs;
  for (int k = 1; fs::is_regular_file(state.DvdFolder + Numbered("VTS_%.2d_%d.VOB", n, k)); ++k)
    vobs.push_back(state.DvdFolder + Numbered("VTS_%.2d_%d.VOB", n, k));
  TessmarStatus status{};
  if (vobs.empty() ||
      IndexAndWait(vobs, state.JobDataFolder + Numbered("vts%.2d", n), true, true, &status) != 0 ||
      status.finished != 1 || status.scrambled != 0 ||
      (status.aspectCode != 2 && status.aspectCode != 3) || status.frameRate < 1.0f)
    return false;
  vts.PictureWidth = static_cast<int16_t>(status.codedWidth);
  vts.PictureHeight = static_cast<int16_t>(status.codedHeight);
  vts.Widescreen = status.aspectCode == 3;
  vts.PalVideo = status.videoKind == 1;
  vts.VideoFrameRate = status.frameRate;
  vts.Progressive = status.mostlyProgressive != 0;
  vts.ProgressiveShare = status.majorityPercent;
  vts.FieldOrderTop = status.topFieldFirst != 0;
  vts.FilmShare = status.filmPercent;

  std::unique_ptr<dvd::IfoFile> ifo = dvd::IfoFile::Open(state.DvdFolder, n);
  if (!ifo || ifo->PgcCount() <= 0) return false;
  const dvd::VtsAudioAttr audio = ifo->AudioAttributes();
  const dvd::VtsSubpictureAttr subpictures = ifo->SubpictureAttributes();
  vts.PgcCount = ifo->PgcCount();
  vts.Pgcs.assign(vts.PgcCount + 1, wizard::PgcInfo());
  for (int j = 1; j <= vts.PgcCount; ++j) {
    const std::optional<dvd::PgcSummary> summary = ifo->Summary(j - 1);
    const auto pgc_bytes = ifo->Pgc(j - 1);
    if (!summary || !pgc_bytes) return false;
    wizard::PgcInfo& pgc = vts.Pgcs[j];
    pgc.Angles = summary->angles;
    pgc.Hours = static_cast<uint8_t>(summary->hours);
    pgc.Minutes = static_cast<uint8_t>(summary->minutes);
    pgc.Seconds = static_cast<uint8_t>(summary->seconds);
    pgc.FramesAndRate = summary->frames_and_rate;
    for (int k = 0; k < audio.count; ++k) {
      const dvd::AudioStreamControl control = dvd::PgcAudioControl(*pgc_bytes, k);
      if (!control.available || control.stream >= 8) continue;
      const AudioStreamInfo& found = status.audio[control.stream];
      if (found.format == 0) continue;
      wizard::PgcAudioEntry entry;
      entry.StreamNumber = control.stream;
      entry.Format = found.format;
      entry.Channels = found.format == 4 ? found.channels : audio.streams[k].channels;
      entry.DelayMs = static_cast<int16_t>(found.delayMs);
      entry.Language = audio.streams[k].language;
      entry.CodeExtension = audio.streams[k].code_extension;
      if (found.format == 4) {
        entry.BitsPerSample = found.bitsPerSample;
        entry.SampleRate = found.sampleRate;
      }
      pgc.AudioStreams.push_back(entry);
    }
    for (int k = 0; k < subpictures.count; ++k) {
      const dvd::SubpictureStreamControl control = dvd::PgcSubpictureControl(*pgc_bytes, k);
      const int s = vts.Widescreen ? control.stream_wide : control.stream_4_3;
      if (control.available && s < 32 && status.subpicturePresent[s] == 1)
        pgc.SubtitleStreams.push_back({s, subpictures.streams[k].language});
    }
  }
  for (int k = 0; k < wizard::kMaxSubpictureStreams; ++k) {
    if (status.subpicturePresent[k] != 1) continue;
    vts.SubtitleFiles[k] = Numbered("vts%.2d_pgc00_a0_st%d.sub", n, k);
    const std::string stream = state.JobDataFolder + Numbered("vts%.2d_st%d.sub", n, k);
    if (fs::exists(stream))
      fs::copy_file(stream, state.JobDataFolder + vts.SubtitleFiles[k],
                    fs::copy_options::overwrite_existing);
  }
  return true;
}

}  // namespace

int AnalyseDisc(const std::string& dvd_folder, const std::string& job_folder,
                wizard::WizardState& state) {
  state.JobFolder = job_folder;
  state.JobDataFolder = job_folder + "/.kvnj/";
  state.DvdFolder = dvd_folder + "/";
  state.PreviewScriptPath = state.JobDataFolder + "preview.avs";
  state.TreeStale = true;
  state.SelectionChanged = true;
  state.PreparedTitle = wizard::TitleChoice{};
  MakeFolders(state.JobDataFolder);
  int usable = 0;
  for (int n = 1; n < wizard::kTitleSetTableSize; ++n) {
    state.TitleSets[n] = wizard::TitleSetInfo();
    const std::string ifo = state.DvdFolder + Numbered("VTS_%.2d_0.IFO", n);
    const std::string vob = state.DvdFolder + Numbered("VTS_%.2d_1.VOB", n);
    if (!fs::exists(ifo) || !fs::exists(vob) || fs::file_size(ifo) == 0 || fs::file_size(vob) == 0)
      continue;
    if (AnalyseTitleSet(state, n, state.TitleSets[n])) {
      ++usable;
    } else {
      state.TitleSets[n].PgcCount = 0;
    }
  }
  return usable;
}

int AnalyseSampleDisc(const std::string& disc, const std::string& job_folder,
                      wizard::WizardState& state) {
  return AnalyseDisc(SampleVideoTs(disc), job_folder, state);
}

std::string CopySampleDisc(const std::string& disc, const std::string& to) {
  const std::string video_ts = to + "/VIDEO_TS";
  MakeFolders(video_ts);
  fs::copy(SampleVideoTs(disc), video_ts,
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  return video_ts;
}

}  // namespace kv_test
