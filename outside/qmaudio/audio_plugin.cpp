#include "outside/qmaudio/audio_plugin.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>

#include "outside/frameserver/include/plugin_host_table.h"
#include "outside/qmaudio/audio_source.h"

namespace qmaudio {

namespace {

kvfs::PluginHostTable host;

const char* FunctionName(Codec codec) {
  switch (codec) {
    case Codec::kAc3:
      return "qmAudioAC3Source";
    case Codec::kDts:
      return "qmAudioDTSSource";
    case Codec::kMpegAudio:
      return "qmAudioMPASource";
    default:
      return "qmAudioLPCMSource";
  }
}

struct Clip {
  std::unique_ptr<AudioSource> source;
  std::string name;
};

int GetAudio(void* self, int64_t start, int64_t count, float* out, char* error, size_t size) {
  auto* clip = static_cast<Clip*>(self);
  std::string why;
  if (clip->source->Read(start, count, out, &why)) return 0;
  std::snprintf(error, size, "%s: %s", clip->name.c_str(), why.c_str());
  return 1;
}

void Destroy(void* self) {
  delete static_cast<Clip*>(self);
}

const kvfs_clip_ops kOps = {nullptr, GetAudio, nullptr, Destroy};

void Source(kvfs_call* call, void* user_data) {
  const Codec codec = static_cast<Codec>(reinterpret_cast<intptr_t>(user_data));
  AudioSettings settings;
  settings.codec = codec;
  if (codec == Codec::kLpcm) {
    const int64_t rate = host->arg_int(call, 1, 48000);
    const int64_t bits = host->arg_int(call, 2, 16);
    const int64_t channels = host->arg_int(call, 3, 2);
    if (rate != 48000 && rate != 96000)
      return host->fail(call, "samplerate must be 48000 or 96000");
    if (bits != 16 && bits != 20 && bits != 24)
      return host->fail(call, "samplebits must be 16, 20 or 24");
    if (channels < 1 || channels > 8) return host->fail(call, "channels must be from 1 to 8");
    settings.lpcm_rate = static_cast<int>(rate);
    settings.lpcm_bits = static_cast<int>(bits);
    settings.channels = static_cast<int>(channels);
  } else {
    const int64_t channels = host->arg_int(call, 1, 2);
    if (channels != 1 && channels != 2 && channels != 6)
      return host->fail(call, "channels must be 1, 2 or 6");
    settings.channels = static_cast<int>(channels);
  }
  const std::string path = host->resolve_path(call, host->arg_string(call, 0, ""));
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    const std::string why = "cannot find the audio map \"" + path + "\"";
    return host->fail(call, why.c_str());
  }
  std::string error;
  auto clip = std::make_unique<Clip>();
  clip->source = AudioSource::Open(path, settings, &error);
  if (!clip->source) return host->fail(call, error.c_str());
  clip->name = FunctionName(codec);
  kvfs_clip_info info{};
  info.pixel_format = KVFS_PIXEL_NONE;
  info.audio_rate = clip->source->SampleRate();
  info.channels = clip->source->Channels();
  info.sample_count = clip->source->SampleCount();
  host->return_clip(call, &info, &kOps, clip.release());
}

}  // namespace

int RegisterAudioSource(const kvfs_host* h, kvfs_registrar* registrar, Codec codec) {
  if (!h || h->version < KVFS_INTERFACE_VERSION) return -1;
  host.Set(h);
  const char* signature = codec == Codec::kLpcm
                              ? "string path, [int samplerate], [int samplebits], [int channels]"
                              : "string path, [int channels]";
  return host->add_function(registrar, FunctionName(codec), signature, Source,
                            reinterpret_cast<void*>(static_cast<intptr_t>(codec)));
}

}  // namespace qmaudio
