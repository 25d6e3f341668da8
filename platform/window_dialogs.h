#pragma once

namespace platform {

// Makes the message boxes windows of their own and the sounds the desktop's
// beep, for a program with a QApplication; without this call messages go to
// the error stream and sounds are silent. Tests' overrides stay in force.
void UseWindowDialogs();

}  // namespace platform
