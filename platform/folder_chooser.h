#pragma once

#include <optional>
#include <string>

#include "platform/seam.h"

class QWidget;

namespace platform {

struct FolderRequest {
  QWidget* owner = nullptr;
  std::string title;
  std::string initial_folder;  // empty: none
  bool allow_new_folder = false;
};

// The shell's folder browser; nullopt when the user cancels.
class FolderChooser {
 public:
  virtual ~FolderChooser() = default;
  virtual std::optional<std::string> Choose(const FolderRequest& request) = 0;
};

Seam<FolderChooser>& FolderChooserSeam();
inline std::optional<std::string> ChooseFolder(const FolderRequest& request) {
  return FolderChooserSeam().Current().Choose(request);
}

}  // namespace platform
