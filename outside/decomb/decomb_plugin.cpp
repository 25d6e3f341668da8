// Decomb.dll: inverse telecine and deinterlacing for the job scripts.
#include "outside/decomb/decomb.h"
#include "outside/plugin_support/host_clip.h"

extern "C" KVFS_PLUGIN_EXPORT int kvfs_register_plugin(const kvfs_host* host,
                                                       kvfs_registrar* registrar) {
  if (!host || host->version < KVFS_INTERFACE_VERSION) return -1;
  plugin::SetHost(host);
  if (host->add_function(registrar, "Telecide", decomb::kTelecideSignature, decomb::Telecide,
                         nullptr) != 0 ||
      host->add_function(registrar, "Decimate", decomb::kDecimateSignature, decomb::Decimate,
                         nullptr) != 0)
    return -1;
  return host->add_function(registrar, "FieldDeinterlace", decomb::kFieldDeinterlaceSignature,
                            decomb::FieldDeinterlace, nullptr);
}
