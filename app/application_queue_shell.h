#pragma once

#include "queue/queue_shell.h"

namespace app {

// The application as the queue window sees it: the shell's process-wide
// values, the hidden main window's title, the About window and the end of
// the message loop. One object for the process; it reads the shell's values
// when asked, so it may be taken before the start-up checks set them.
queue::QueueShell& ApplicationQueueShell();

}  // namespace app
