#include "app/version_info.h"

#include "app/version_block.h"

namespace app {

std::optional<VersionInfo> VersionInfo::OfProgram() {
#if defined(KV_FILE_VERSION) && defined(KV_VERSION_COMMENTS) && defined(KV_LEGAL_COPYRIGHT)
  const std::string table = kVersionStringTable;
  return VersionInfo({{table + "FileVersion", KV_FILE_VERSION},
                      {table + "Comments", KV_VERSION_COMMENTS},
                      {table + "LegalCopyright", KV_LEGAL_COPYRIGHT}});
#else
  return std::nullopt;
#endif
}

std::optional<std::string> VersionInfo::Query(const std::string& key) const {
  auto it = strings_.find(key);
  if (it == strings_.end()) return std::nullopt;
  return it->second;
}

}  // namespace app
