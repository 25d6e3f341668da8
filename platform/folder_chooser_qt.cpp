// The folder browser: Qt's own folder dialog, so that creating folders can
// be offered or withheld.
#include "platform/folder_chooser.h"

#include <QFileDialog>
#include <QString>
#include <QStringList>

namespace platform {
namespace {

class RealFolderChooser : public FolderChooser {
 public:
  std::optional<std::string> Choose(const FolderRequest& request) override {
    QFileDialog dialog(request.owner, QString::fromStdString(request.title),
                       QString::fromStdString(request.initial_folder));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    // A native dialog would offer "new folder" whatever we ask.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::ReadOnly, !request.allow_new_folder);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
    return chosen.front().toStdString();
  }
};

}  // namespace

Seam<FolderChooser>& FolderChooserSeam() {
  static RealFolderChooser real;
  static Seam<FolderChooser> seam(real);
  return seam;
}

}  // namespace platform
