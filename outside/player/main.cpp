// The preview player: plays a script served by the frameserver.
//
//   mplayer2 SCRIPT.avs
//
// The script is taken from the working folder when its name is relative.
#include <QApplication>
#include <string>

#include "outside/player/player_window.h"
#include "platform/message_box.h"
#include "platform/window_dialogs.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  platform::UseWindowDialogs();
  if (argc != 2) {
    platform::ShowMessage(nullptr, "Usage: mplayer2 SCRIPT.avs", platform::MessageIcon::Error);
    return 2;
  }
  std::unique_ptr<player::PlayerWindow> window = player::OpenPlayer(argv[1]);
  if (!window) return 1;
  window->show();
  return app.exec();
}
