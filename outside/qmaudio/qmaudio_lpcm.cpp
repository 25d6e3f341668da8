// qmaudio_lpcm.dll: the LPCM source of the job scripts.
#include "outside/qmaudio/audio_plugin.h"

extern "C" KVFS_PLUGIN_EXPORT int kvfs_register_plugin(const kvfs_host* host,
                                                       kvfs_registrar* registrar) {
  return qmaudio::RegisterAudioSource(host, registrar, qmaudio::Codec::kLpcm);
}
