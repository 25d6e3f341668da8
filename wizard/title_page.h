#pragma once

#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QSlider>
#include <QTreeWidget>
#include <QWidget>
#include <memory>
#include <string>

#include "wizard/select_thread.h"
#include "wizard/wizard_frame.h"

namespace wizard {

class TKVNNewWaitForm;

// Page 3 of the new-job wizard ("Step3"): the program chains and angles of
// the analysed disc in a tree, a preview of the chosen title with a slider
// over its frames, and, when the user goes on, the preparation of the
// chosen title on TKVNSelectThread behind the "Please wait..." window.
class TitlePage : public QWidget, public WizardPage {
  Q_OBJECT
 public:
  explicit TitlePage(WizardFrame& frame, QWidget* parent = nullptr);
  ~TitlePage() override;

  void Enter() override;
  bool Leave(bool forward) override;
  void WizardClosing() override;

  // A preparation runs from Next until its end has been handled.
  bool PreparationRunning() const { return select_thread_.Running(); }
  // Serves the user-interface thread until a running preparation has ended
  // and its end has been handled (a close that arrives meanwhile waits).
  void WaitForPreparation() { select_thread_.WaitForEnd(); }
  // The title open for the preview.
  struct PreviewState {
    std::string PreviewVideoPath;
    int32_t PreviewFrameCount = 0;
    int PictureWidth = 0;  // of the decoder's picture
    int PictureHeight = 0;
    QImage PreviewBitmap;  // half the decoder's picture, as shown
    bool PreviewBusy = false;
    bool ReopenOnly = false;
  };
  const PreviewState& Preview() const { return preview_; }

  QTreeWidget* TitleTree;
  QFrame* PreviewBevel;
  QLabel* PreviewImage;
  QLabel* NoTitleImage;
  QSlider* PreviewBar;
  QLabel* TitleLabel;

 public slots:
  void TitleTreeChange();
  void PreviewBarChange();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  WizardState& State() { return frame_.State(); }
  bool LeaveForwards();
  bool LeaveBackwards();
  void BuildTree();
  void ClosePreview();
  void ShowNoTitle();
  void SetPreviewGeometry(bool widescreen);
  void SetBarPosition(int position);
  void SetHourglass(bool on);
  void StartPreparation();
  void PreparationEnded(const TitleChoice& title, const PreparationResult& result);

  WizardFrame& frame_;
  // The frame's window, kept for the page's own end (the frame may be gone
  // as a WizardFrame by then).
  QPointer<QWidget> window_;
  TKVNSelectThread select_thread_;
  std::unique_ptr<TKVNNewWaitForm> wait_form_;

  PreviewState preview_;
  bool hourglass_ = false;
};

}  // namespace wizard
