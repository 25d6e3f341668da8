#include "wizard/title_page.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QKeyEvent>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>

#include "decoder/video_decoder.h"
#include "platform/message_box.h"
#include "queue/folder_tree.h"
#include "wizard/new_wait_form.h"
#include "wizard/title_key.h"
#include "wizard/title_preview.h"
#include "wizard/title_tree.h"

namespace wizard {

namespace {

inline constexpr char kDiscardAnalysisQuestion[] =
    "The result of the analysis will be discarded. Are you sure you want to do this?";
inline constexpr int kPreviewLeft = 214;

void ShowError(QWidget* owner, const char* message) {
  platform::ShowMessage(owner, message, platform::MessageIcon::Error);
}

QIcon TreeIcon(int image) {
  static const char* const kNames[] = {"", "title_set", "program_chain", "angle"};
  return QIcon(QStringLiteral(":/wizard/tree_%1.svg").arg(QLatin1String(kNames[image])));
}

QTreeWidgetItem* AddNode(const TitleTreeNode& node, QTreeWidgetItem* parent, QTreeWidget* tree) {
  QTreeWidgetItem* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
  item->setText(0, QString::fromStdString(node.Text));
  item->setIcon(0, TreeIcon(node.StateImage));
  for (const TitleTreeNode& child : node.Children) AddNode(child, item, tree);
  return item;
}

std::vector<std::string> TextsFromRoot(const QTreeWidgetItem* node) {
  std::vector<std::string> texts;
  for (; node; node = node->parent()) texts.insert(texts.begin(), node->text(0).toStdString());
  return texts;
}

}  // namespace

TitlePage::TitlePage(WizardFrame& frame, QWidget* parent) : QWidget(parent), frame_(frame) {
  setObjectName(QStringLiteral("Step3"));

  TitleTree = new QTreeWidget(this);
  TitleTree->setObjectName(QStringLiteral("TitleTree"));
  TitleTree->setGeometry(8, 8, 196, 224);
  TitleTree->setHeaderHidden(true);
  TitleTree->setColumnCount(1);
  TitleTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TitleTree->setSelectionMode(QAbstractItemView::SingleSelection);
  // The choice stays visible when the tree loses the focus.
  QPalette palette = TitleTree->palette();
  for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  TitleTree->setPalette(palette);
  TitleTree->installEventFilter(this);
  connect(TitleTree, &QTreeWidget::currentItemChanged, this, &TitlePage::TitleTreeChange);

  PreviewBevel = new QFrame(this);
  PreviewBevel->setObjectName(QStringLiteral("PreviewBevel"));
  PreviewBevel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  PreviewBevel->setGeometry(kPreviewLeft - 2, kPreviewDesign.Top - 2, kPreviewWidth + 4,
                            kPreviewDesign.Height + 4);

  NoTitleImage = new QLabel(this);
  NoTitleImage->setObjectName(QStringLiteral("NoTitleImage"));
  NoTitleImage->setGeometry(kPreviewLeft, kPreviewDesign.Top, kPreviewWidth, kPreviewDesign.Height);
  NoTitleImage->setPixmap(
      QIcon(QStringLiteral(":/wizard/no_title.svg")).pixmap(kPreviewWidth, kPreviewDesign.Height));

  PreviewImage = new QLabel(this);
  PreviewImage->setObjectName(QStringLiteral("PreviewImage"));
  PreviewImage->setScaledContents(true);
  PreviewImage->hide();
  SetPreviewGeometry(false);

  PreviewBar = new QSlider(Qt::Horizontal, this);
  PreviewBar->setObjectName(QStringLiteral("PreviewBar"));
  PreviewBar->setGeometry(kPreviewLeft - 4, 196, kPreviewWidth + 8, 20);
  PreviewBar->setRange(0, 128);
  PreviewBar->setValue(64);
  PreviewBar->setTickPosition(QSlider::NoTicks);
  PreviewBar->setEnabled(false);
  connect(PreviewBar, &QSlider::valueChanged, this, &TitlePage::PreviewBarChange);

  TitleLabel = new QLabel(QStringLiteral("VTS ?? > PGC ?? > Angle ?"), this);
  TitleLabel->setObjectName(QStringLiteral("TitleLabel"));
  TitleLabel->setGeometry(kPreviewLeft - 2, 218, kPreviewWidth + 4, 18);
  QFont bold = TitleLabel->font();
  bold.setBold(true);
  TitleLabel->setFont(bold);
  TitleLabel->setStyleSheet(QStringLiteral("color: navy;"));

  // A close of the wizard that arrives while the chosen title is prepared
  // waits for the preparation's end, then takes its normal course.
  window_ = frame_.Window();
  if (window_) window_->installEventFilter(this);
}

TitlePage::~TitlePage() {
  if (window_) window_->removeEventFilter(this);
  SetHourglass(false);
}

// ------------------------------------------------------------------ entering

void TitlePage::Enter() {
  WizardState& state = State();
  state.TitlePageEntered = true;
  preview_.PreviewBusy = false;
  preview_.ReopenOnly = false;
  frame_.SetHeader(2, QStringLiteral("Select title"),
                   QStringLiteral("Select the PGC/angle you want to transcode."));
  if (state.TreeStale) {
    BuildTree();
    return;
  }
  // Back from the configuration page, or after a failed preparation: the
  // choice is opened again.
  frame_.SelectNotebookPage(kTitlePage);
  frame_.NextButton()->setEnabled(false);
  SetHourglass(true);
  state.PreviewOpen = false;
  decoder::VideoInfo info;
  const bool film = decoder::FilmFlag(state.SelectedTitleSet().FilmShare);
  if (decoder::OpenVideo(preview_.PreviewVideoPath, film, &info)) {
    SetHourglass(false);
    preview_.PreviewFrameCount = info.FrameCount;
    state.PreviewOpen = true;
    frame_.NextButton()->setEnabled(true);
  } else {
    preview_.ReopenOnly = true;
    TitleTreeChange();
  }
  TitleTree->setFocus();
}

void TitlePage::BuildTree() {
  WizardState& state = State();
  frame_.NextButton()->setEnabled(false);
  ClosePreview();
  SetPreviewGeometry(false);
  ShowNoTitle();
  TitleLabel->clear();
  PreviewBar->setEnabled(false);
  SetBarPosition(PreviewBar->maximum() / 2);
  {
    const QSignalBlocker quiet(TitleTree);
    TitleTree->clear();
  }
  const TitleTreeModel tree = BuildTitleTree(state.TitleSets);
  {
    const QSignalBlocker quiet(TitleTree);
    for (const TitleTreeNode& root : tree.Roots) AddNode(root, nullptr, TitleTree);
    TitleTree->expandAll();
  }
  state.TreeStale = false;
  frame_.SelectNotebookPage(kTitlePage);
  if (!tree.DefaultNode.empty()) {
    QTreeWidgetItem* node = TitleTree->topLevelItem(tree.DefaultNode[0]);
    for (size_t i = 1; i < tree.DefaultNode.size(); ++i) node = node->child(tree.DefaultNode[i]);
    TitleTree->setCurrentItem(node);  // runs TitleTreeChange
  }
  TitleTree->setFocus();
}

// ---------------------------------------------------------------- the choice

void TitlePage::TitleTreeChange() {
  WizardState& state = State();
  const bool reopen = preview_.ReopenOnly;
  preview_.ReopenOnly = false;
  frame_.NextButton()->setEnabled(false);
  PreviewBar->setEnabled(false);
  if (!reopen) {
    TitleLabel->clear();
    ShowNoTitle();
    ClosePreview();
    SetBarPosition(PreviewBar->maximum() / 2);
  }
  const QTreeWidgetItem* node = TitleTree->currentItem();
  const std::optional<TitleChoice> choice =
      node ? ChoiceFromNodeTexts(TextsFromRoot(node), node->childCount() > 0) : std::nullopt;
  if (!choice) {  // a title set, or a chain that has angles
    SetHourglass(false);
    return;
  }
  SetHourglass(true);
  state.SelVts = choice->Vts;
  state.SelPgc = choice->Pgc;
  state.SelAngle = choice->Angle;
  TitleLabel->setText(QString::fromStdString(TitleLabelText(*choice)));
  preview_.PreviewVideoPath = TitleVideoIndexPath(state, *choice);

  decoder::VideoInfo info;
  if (!OpenTitleForPreview(state, *choice, &info)) {
    SetHourglass(false);
    ShowError(frame_.Window(), decoder::kPreviewFailedMessage);
    return;
  }
  preview_.PreviewFrameCount = info.FrameCount;
  if (!reopen) {
    SetPreviewGeometry(state.SelectedTitleSet().Widescreen);
    preview_.PictureWidth = info.Width;
    preview_.PictureHeight = info.Height;
    preview_.PreviewBitmap = HalfSizeBitmap(info.Width, info.Height);
  }
  SetHourglass(false);
  PreviewBar->setEnabled(true);
  state.PreviewOpen = true;
  preview_.PreviewBusy = false;
  if (!reopen) {
    PreviewBarChange();
    // A frame that cannot be decoded has closed the title again.
    if (!state.PreviewOpen) return;
    NoTitleImage->hide();
    PreviewImage->show();
  }
  frame_.NextButton()->setEnabled(info.FrameCount > 1);
}

void TitlePage::PreviewBarChange() {
  WizardState& state = State();
  if (!state.PreviewOpen || preview_.PreviewBusy) return;
  preview_.PreviewBusy = true;
  const int32_t frame =
      PreviewFrameNumber(preview_.PreviewFrameCount, PreviewBar->value(), PreviewBar->maximum());
  if (const uint8_t* picture = decoder::GetFrame(frame)) {
    HalvePicture(picture, preview_.PictureWidth, preview_.PictureHeight, &preview_.PreviewBitmap);
    PreviewImage->setPixmap(QPixmap::fromImage(preview_.PreviewBitmap));
    preview_.PreviewBusy = false;
    return;
  }
  state.PreviewOpen = false;
  ShowError(frame_.Window(), decoder::kFrameFailedMessage);
  frame_.NextButton()->setEnabled(false);
  PreviewBar->setEnabled(false);
  TitleLabel->clear();
  ShowNoTitle();
  decoder::CloseVideo();
  SetBarPosition(PreviewBar->maximum() / 2);
}

// ------------------------------------------------------------------- leaving

bool TitlePage::Leave(bool forward) {
  return forward ? LeaveForwards() : LeaveBackwards();
}

bool TitlePage::LeaveBackwards() {
  if (!platform::AskYesNo(frame_.Window(), kDiscardAnalysisQuestion,
                          platform::MessageIcon::Warning))
    return false;
  ClosePreview();
  queue::RemoveFolderTree(State().JobFolder);
  return true;
}

bool TitlePage::LeaveForwards() {
  WizardState& state = State();
  // The second call, after a successful preparation.
  if (!state.TitlePageEntered) return true;
  state.TitlePageEntered = false;
  ClosePreview();
  if (state.Selection() == state.PreparedTitle) {
    state.SelectionChanged = false;  // the configuration page keeps its settings
    return true;
  }
  state.SelectionChanged = true;
  if (!state.SelectedPgc().Prepared(state.SelAngle)) {
    StartPreparation();
    return false;  // the end of the preparation goes on
  }
  state.TitleKey = TitleKeyFor(state.Selection());
  return true;
}

void TitlePage::WizardClosing() {
  select_thread_.WaitForEnd();
  ClosePreview();
}

// --------------------------------------------------------------- preparation

void TitlePage::StartPreparation() {
  wait_form_ = std::make_unique<TKVNNewWaitForm>(frame_.Window());
  wait_form_->show();
  const PreparationInput input = PreparationInputFor(State());
  select_thread_.Start(input, [this, title = input.Title](const PreparationResult& result) {
    PreparationEnded(title, result);
  });
}

void TitlePage::PreparationEnded(const TitleChoice& title, const PreparationResult& result) {
  WizardState& state = State();
  if (!result.Ok) ShowError(wait_form_.get(), result.Error.c_str());
  ApplyPreparation(state, title, result);
  if (wait_form_) wait_form_->Finish();
  wait_form_.reset();
  if (result.Ok) {
    frame_.NextButtonClick();
  } else {
    Enter();
  }
}

// ------------------------------------------------------------------- helpers

void TitlePage::ClosePreview() {
  WizardState& state = State();
  if (state.PreviewOpen) decoder::CloseVideo();
  state.PreviewOpen = false;
}

void TitlePage::ShowNoTitle() {
  PreviewImage->hide();
  NoTitleImage->show();
}

void TitlePage::SetPreviewGeometry(bool widescreen) {
  const PreviewGeometry g = PreviewGeometryFor(widescreen);
  PreviewImage->setGeometry(kPreviewLeft, g.Top, kPreviewWidth, g.Height);
}

void TitlePage::SetBarPosition(int position) {
  PreviewBar->setValue(position);
}

void TitlePage::SetHourglass(bool on) {
  if (on == hourglass_) return;
  hourglass_ = on;
  if (on) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

bool TitlePage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == TitleTree && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    // TitleTreeKeyPress: Enter goes on as Next does.
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && frame_.NextButton()->isEnabled()) {
      frame_.NextButtonClick();
      return true;
    }
  } else if (watched == window_ && event->type() == QEvent::Close && select_thread_.Running()) {
    select_thread_.WaitForEnd();
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace wizard
