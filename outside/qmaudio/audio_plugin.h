// The frameserver side of the four audio source plug-ins: each registers one
// source function for its format, reading a title's audio map.
#pragma once

#include "outside/frameserver/include/frameserver_plugin.h"
#include "outside/qmaudio/frame_headers.h"

namespace qmaudio {

// Registers the source function of `codec`: qmAudioAC3Source,
// qmAudioDTSSource and qmAudioMPASource (path, [channels] 1, 2 or 6), or
// qmAudioLPCMSource (path, [samplerate], [samplebits], [channels]).
int RegisterAudioSource(const kvfs_host* host, kvfs_registrar* registrar, Codec codec);

}  // namespace qmaudio
