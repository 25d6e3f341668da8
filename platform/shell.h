#pragma once

#include <string>
#include <vector>

#include "platform/seam.h"

namespace platform {

// The shell's "open" verb: a document goes to the desktop's opener; a
// program is started directly with its arguments in its working folder.
class Shell {
 public:
  virtual ~Shell() = default;
  virtual bool OpenDocument(const std::string& path) = 0;
  virtual bool StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                            const std::string& working_folder) = 0;
};

Seam<Shell>& ShellSeam();
inline Shell& TheShell() {
  return ShellSeam().Current();
}

}  // namespace platform
