#pragma once

#include <string>

namespace queue {

// Deletes a folder with everything in it, hidden and read-only entries
// included. Goes on past failures; the folder itself is removed only when
// everything inside went. True when nothing inside failed. A link inside is
// removed as a link, never followed.
bool RemoveFolderTree(const std::string& folder);

}  // namespace queue
