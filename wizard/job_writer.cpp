#include "wizard/job_writer.h"

#include <QDateTime>
#include <QLocale>
#include <cstdio>
#include <utility>

#include "platform/file_system.h"
#include "queue/folder_tree.h"
#include "queue/job_file.h"
#include "wizard/crlf_text.h"
#include "wizard/encoder_job_file.h"

namespace wizard {

namespace {

// The picture filters of the scripts and of the preview.
constexpr int kVolumeIdctMode = 4;
constexpr int kPreviewIdctMode = 6;

// The AudioFormatTable row whose source reads sample rate and size from the
// script.
constexpr int kLpcmAudioFormat = 4;

// The file the frameserver writes when the clip starts; the encoder control
// looks for it to know that encoding has begun.
constexpr const char* kStartMarkLine = "WriteFileStart(\"avsdebug\", \"\"\" \"Kestrevane\" \"\"\")";

bool UsesDecombFunctions(const JobSettings& s) {
  return (s.Ivtc && s.IvtcComplex) || s.Deinterlace;
}

bool BurnsSubtitles(const JobSettings& s) {
  return s.HasSubtitles && s.SubtitlesEnabled;
}

const PgcAudioEntry* ChosenAudioStream(const JobSettings& s) {
  if (!s.HasAudio) return nullptr;
  if (s.AudioTrack < 0 || s.AudioTrack >= static_cast<int>(s.Facts.AudioStreams.size()))
    return nullptr;
  return &s.Facts.AudioStreams[s.AudioTrack];
}

const PgcSubtitleEntry* ChosenSubtitleStream(const JobSettings& s) {
  if (s.SubtitleTrack < 0 || s.SubtitleTrack >= static_cast<int>(s.Facts.SubtitleStreams.size()))
    return nullptr;
  const PgcSubtitleEntry& stream = s.Facts.SubtitleStreams[s.SubtitleTrack];
  if (stream.StreamNumber < 0 || stream.StreamNumber >= kMaxSubpictureStreams) return nullptr;
  return &stream;
}

int ChannelsOf(ChannelModeKind mode) {
  switch (mode) {
    case ChannelModeKind::Mono:
      return 1;
    case ChannelModeKind::Stereo:
    case ChannelModeKind::Surround:
      return 2;
    case ChannelModeKind::Multichannel:
      return 6;
  }
  return 2;
}

// The whole picture is kept when cropping is off or the rectangle is the
// picture itself; the resize then needs no source rectangle.
bool KeepsWholePicture(const JobSettings& s) {
  const PictureRect& r = s.CropRect;
  return s.CropMode == CropModeKind::Disabled ||
         (r.Top == 0 && r.Left == 0 && r.Width == s.Facts.PictureWidth &&
          r.Height == s.Facts.PictureHeight);
}

// Telecide and Decimate by how much of the title is film.
void WriteFieldMatching(CrLfText& out, const JobSettings& s) {
  const int order = s.TopFieldFirst ? 1 : 0;
  const float film = s.Facts.FilmShare;
  if (film >= 95.0f) {
    out.Line("video = Telecide(video, order=%d).Decimate(cycle=5)", order);
  } else if (film >= 50.0f) {
    out.Line("video = Telecide(video, order=%d, guide=1).Decimate(mode=3, threshold=1.0)", order);
  } else {
    out.Line("video = Telecide(video, order=%d, guide=1).Decimate(mode=1, threshold=1.0)", order);
  }
}

// A name in the data folder that stays there: no separator, no "." or "..".
bool IsBareFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

int VolumeCountOf(const JobSettings& s) {
  if (s.EncodeMode == EncodeModeKind::FixedSize && s.SplitVolumes) return s.VolumeCount;
  return 1;
}

int FramesPerVolume(const JobSettings& s) {
  const int volumes = VolumeCountOf(s);
  return volumes > 0 ? s.FrameCount / volumes : 0;
}

std::string VolumeScriptName(int volume) {
  char name[32];
  std::snprintf(name, sizeof name, "out%.2d.avs", volume);
  return name;
}

std::string VolumeJobFileName(int volume) {
  char name[32];
  std::snprintf(name, sizeof name, "out%.2d.rpjf", volume);
  return name;
}

std::string VolumeOutputPath(const std::string& job_name, int volume, int volumes) {
  if (volumes < 2) return "../" + job_name + ".rmvb";
  char part[48];
  std::snprintf(part, sizeof part, " (%dof%d).rmvb", volume, volumes);
  return "../" + job_name + part;
}

std::string SubtitleDataFileName(const std::string& title_key, int stream) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "_st%d.sub", stream);
  return title_key + suffix;
}

std::vector<std::string> PluginFilesOf(const JobSettings& s) {
  std::vector<std::string> files = {"qmvideo.dll"};
  // Simple inverse telecine loads no Decomb function, but the plug-in goes
  // with the job all the same.
  if (s.Ivtc || s.Deinterlace) files.push_back("Decomb.dll");
  if (const PgcAudioEntry* audio = ChosenAudioStream(s)) {
    const std::string plugin = AudioFormatOf(audio->Format).PluginFile;
    if (!plugin.empty()) files.push_back(plugin);
  }
  if (BurnsSubtitles(s)) files.push_back("VSFilter.dll");
  return files;
}

std::string FormatScript(const JobSettings& s, const std::string& title_key, int volume,
                         bool preview) {
  const PgcAudioEntry* audio = ChosenAudioStream(s);
  if (s.HasAudio && (audio == nullptr || *AudioFormatOf(audio->Format).SourceFunction == '\0'))
    return "";
  const PgcSubtitleEntry* subtitle = BurnsSubtitles(s) ? ChosenSubtitleStream(s) : nullptr;
  if (BurnsSubtitles(s) && subtitle == nullptr) return "";
  const AudioFormatEntry* format = audio ? &AudioFormatOf(audio->Format) : nullptr;

  CrLfText out;
  out.Line("LoadPlugin(\"%s\")", "qmvideo.dll");
  if (UsesDecombFunctions(s)) out.Line("LoadPlugin(\"%s\")", "Decomb.dll");
  if (format) out.Line("LoadPlugin(\"%s\")", format->PluginFile);
  if (subtitle) out.Line("LoadPlugin(\"%s\")", "VSFilter.dll");
  out.Empty();

  const char* key = title_key.c_str();
  const int idct = preview ? kPreviewIdctMode : kVolumeIdctMode;
  if (s.Ivtc && !s.IvtcComplex) {
    // The decoder's film mode does the inverse telecine.
    out.Line("video = qmVideoSource(\"%s.qmvi\", idct=%d, force_film=true)", key, idct);
  } else {
    out.Line("video = qmVideoSource(\"%s.qmvi\", idct=%d, force_film=false)", key, idct);
    if (s.Ivtc) WriteFieldMatching(out, s);
    if (s.Deinterlace)
      out.Line("video = FieldDeinterlace(video, full=%s)", s.DeinterlaceFull ? "true" : "false");
  }

  const char* resize = preview ? "BilinearResize" : "LanczosResize";
  if (KeepsWholePicture(s)) {
    out.Line("video = %s(video, %d, %d)", resize, s.OutputWidth, s.OutputHeight);
  } else {
    const PictureRect& r = s.CropRect;
    out.Line("video = %s(video, %d, %d, %d, %d, %d, %d)", resize, s.OutputWidth, s.OutputHeight,
             r.Left, r.Top, r.Width, r.Height);
  }
  if (subtitle) out.Line("video = VobSub(video, \"%s_st%d.idx\")", key, subtitle->StreamNumber);
  out.Empty();

  if (audio) {
    if (audio->Format == kLpcmAudioFormat) {
      out.Line("audio = %s(\"%s_at%d.vfm\", samplerate=%d, samplebits=%d, channels=%d)",
               format->SourceFunction, key, audio->StreamNumber, audio->SampleRate,
               audio->BitsPerSample, audio->Channels);
    } else {
      out.Line("audio = %s(\"%s_at%d.vfm\", channels=%d)", format->SourceFunction, key,
               audio->StreamNumber, ChannelsOf(s.ChannelMode));
    }
    if (s.GainEnabled) out.Line("audio = AmplifydB(audio, %f)", -s.GainStep * 0.2);
    out.Empty();
    if (audio->DelayMs == 0) {
      out.Line("AudioDub(video, audio)");
    } else {
      // Seconds in single precision: -80 ms is -0.080000.
      const float seconds = static_cast<float>(audio->DelayMs) * 0.001f;
      out.Line("AudioDub(video, DelayAudio(audio, %f))", static_cast<double>(seconds));
    }
  } else {
    out.Line("video");
  }

  if (s.PalTruSpeed) out.Line("AssumeFPS(24, sync_audio=true)");
  if (!preview) {
    const int volumes = VolumeCountOf(s);
    if (volumes > 1) {
      const int frames = FramesPerVolume(s);
      // The last volume runs to the end of the clip.
      out.Line("Trim(%d, %d)", (volume - 1) * frames, volume < volumes ? volume * frames - 1 : 0);
    }
    out.Empty();
    out.Line("%s", kStartMarkLine);
  }
  return out.Take();
}

// --- JobWriter -------------------------------------------------------------

JobWriter::JobWriter(WizardState& state, std::string program_folder)
    : state_(state), program_folder_(std::move(program_folder)) {}

bool JobWriter::WriteScripts(bool preview) {
  const JobSettings& s = state_.Settings;
  const int volumes = preview ? 1 : VolumeCountOf(s);
  if (volumes < 1) return false;
  // Every volume needs frames of its own: with fewer than two a volume's
  // Trim would read 0 as "to the end" or cut nothing.
  if (!preview && volumes > 1 && FramesPerVolume(s) < 2) return false;
  for (int k = 1; k <= volumes; ++k) {
    const std::string path = preview
                                 ? state_.PreviewScriptPath
                                 : platform::JoinPath(state_.JobDataFolder, VolumeScriptName(k));
    if (!WriteScript(path, k, preview)) return false;
  }
  return CopyPlugins();
}

bool JobWriter::WriteScript(const std::string& path, int volume, bool preview) {
  const std::string text = FormatScript(state_.Settings, state_.TitleKey, volume, preview);
  if (text.empty()) return false;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  // The VobSub line names the data file by the title's index: it must carry
  // that name before the script is served.
  if (BurnsSubtitles(state_.Settings) && !PlaceSubtitleDataFile()) {
    std::fclose(file);
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    // A script cut short would serve a wrong clip.
    std::remove(path.c_str());
    return false;
  }
  return true;
}

bool JobWriter::PlaceSubtitleDataFile() {
  const PgcSubtitleEntry* stream = ChosenSubtitleStream(state_.Settings);
  if (stream == nullptr || state_.SelVts < 1 || state_.SelVts >= kTitleSetTableSize) return false;
  std::string& current = state_.TitleSets[state_.SelVts].SubtitleFiles[stream->StreamNumber];
  const std::string expected = SubtitleDataFileName(state_.TitleKey, stream->StreamNumber);
  if (current == expected) return true;
  if (!IsBareFileName(current) || !IsBareFileName(expected)) return false;
  if (!platform::RenameFile(platform::JoinPath(state_.JobDataFolder, current),
                            platform::JoinPath(state_.JobDataFolder, expected)))
    return false;
  current = expected;
  return true;
}

bool JobWriter::CopyPlugins() {
  for (const std::string& name : PluginFilesOf(state_.Settings)) {
    const std::string copy = platform::JoinPath(state_.JobDataFolder, name);
    if (platform::FileExists(copy)) continue;
    if (!platform::CopyFileNoOverwrite(platform::JoinPath(program_folder_, name), copy))
      return false;
  }
  return true;
}

bool JobWriter::WriteEncoderJobFiles() {
  const int volumes = VolumeCountOf(state_.Settings);
  for (int k = 1; k <= volumes; ++k) {
    const EncoderJobFileValues values = EncoderJobFileValuesOf(
        state_.Settings, VolumeScriptName(k), VolumeOutputPath(state_.JobName, k, volumes));
    if (!WriteEncoderJobFile(platform::JoinPath(state_.JobDataFolder, VolumeJobFileName(k)),
                             values))
      return false;
  }
  return true;
}

bool JobWriter::WriteFirstJobFile(const std::string& date_text) {
  const std::string text = queue::FormatJobFileText(
      state_.JobName, date_text, queue::FormatProgress(0, VolumeCountOf(state_.Settings)), "--",
      "--");
  const std::string path = platform::JoinPath(state_.JobDataFolder, ".kvnj");
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    std::remove(path.c_str());
    return false;
  }
  return true;
}

// --- Finish ----------------------------------------------------------------

FinishResult FinishJob(WizardState& state, const std::string& program_folder,
                       const std::string& date_text, const AddJobToQueue& add_job) {
  FinishResult result;
  JobWriter writer(state, program_folder);
  if (!writer.WriteScripts(false) || !writer.WriteEncoderJobFiles() ||
      !writer.WriteFirstJobFile(date_text)) {
    queue::RemoveFolderTree(state.JobFolder);
    result.folder_removed = true;
    result.message = kUnableToSaveJobMessage;
    result.icon = platform::MessageIcon::Error;
    return result;
  }
  const queue::JobStore::AddResult added = add_job(state.JobFolder);
  if (!added.valid) {
    result.message = kJobCorruptedMessage;
    result.icon = platform::MessageIcon::Error;
  } else if (added.already_listed) {
    result.message = kUnableToAddJobMessage;
    result.icon = platform::MessageIcon::Warning;
  } else {
    result.added = true;
  }
  return result;
}

std::string JobDateText() {
  // The short date and the long time (with seconds, so that two jobs of one
  // name made within a minute stay two jobs), without the time zone that the
  // long time format may name.
  const QLocale locale = QLocale::system();
  const QDateTime now = QDateTime::currentDateTime();
  const QString long_time = locale.timeFormat(QLocale::LongFormat);
  QString time_format;
  bool quoted = false;
  for (const QChar c : long_time) {
    if (c == QLatin1Char('\'')) quoted = !quoted;
    if (!quoted && c == QLatin1Char('t')) continue;
    time_format += c;
  }
  const QString text = locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                       locale.toString(now.time(), time_format.trimmed());
  return text.simplified().toStdString();
}

}  // namespace wizard
