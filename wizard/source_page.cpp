#include "wizard/source_page.h"

#include <QFocusEvent>
#include <QGridLayout>
#include <QIcon>
#include <QKeyEvent>

#include "platform/drive.h"
#include "platform/folder_chooser.h"
#include "platform/message_box.h"
#include "platform/sounds.h"
#include "wizard/source_rules.h"
#include "wizard/wizard_state.h"

namespace wizard {

namespace {

QLabel* FieldLabel(const char* name, const char* text, QWidget* parent) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setObjectName(QLatin1String(name));
  return label;
}

QLineEdit* Edit(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name));
  return edit;
}

QPushButton* BrowseButton(const char* name, QWidget* parent) {
  auto* button = new QPushButton(QStringLiteral("Browse..."), parent);
  button->setObjectName(QLatin1String(name));
  return button;
}

std::string Text(const QLineEdit* edit) {
  return edit->text().toStdString();
}

}  // namespace

SourcePage::SourcePage(WizardFrame& frame) : frame_(frame) {
  NameEdit = Edit("NameEdit", this);
  LocEdit = Edit("LocEdit", this);
  LocBrowseButton = BrowseButton("LocBrowseButton", this);
  SrcEdit = Edit("SrcEdit", this);
  SrcBrowseButton = BrowseButton("SrcBrowseButton", this);
  PathIcon = new QLabel(this);
  PathIcon->setObjectName(QStringLiteral("PathIcon"));
  PathIcon->setFixedSize(32, 32);
  PathIcon->setPixmap(QIcon(QStringLiteral(":/wizard/path_icon.svg")).pixmap(32, 32));
  PathLabel = new QLabel(QStringLiteral("Job will be created at [Path]."), this);
  PathLabel->setObjectName(QStringLiteral("PathLabel"));
  PathLabel->setWordWrap(true);
  PathIcon->hide();
  PathLabel->hide();

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(16, 16, 16, 12);
  grid->setVerticalSpacing(10);
  grid->addWidget(FieldLabel("NameLabel", "Name:", this), 0, 0);
  grid->addWidget(NameEdit, 0, 1, 1, 2);
  grid->addWidget(FieldLabel("LocLabel", "Destination:", this), 1, 0);
  grid->addWidget(LocEdit, 1, 1);
  grid->addWidget(LocBrowseButton, 1, 2);
  grid->addWidget(FieldLabel("SrcLabel", "DVD Source:", this), 2, 0);
  grid->addWidget(SrcEdit, 2, 1);
  grid->addWidget(SrcBrowseButton, 2, 2);
  grid->setRowStretch(3, 1);
  auto* path_row = new QHBoxLayout();
  path_row->setSpacing(8);  // the icon's folder reaches the edge of its picture
  path_row->addWidget(PathIcon);
  path_row->addWidget(PathLabel, 1);
  grid->addLayout(path_row, 4, 0, 1, 3);

  NameEdit->installEventFilter(this);
  connect(NameEdit, &QLineEdit::textChanged, this, &SourcePage::NameEditChange);
  connect(LocEdit, &QLineEdit::textChanged, this, &SourcePage::LocEditChange);
  connect(SrcEdit, &QLineEdit::textChanged, this, &SourcePage::SrcEditChange);
  connect(LocBrowseButton, &QPushButton::clicked, this, &SourcePage::LocBrowseButtonClick);
  connect(SrcBrowseButton, &QPushButton::clicked, this, &SourcePage::SrcBrowseButtonClick);
}

void SourcePage::Enter() {
  WizardState& state = frame_.State();
  if (state.FirstShow) {
    SetNextEnabled(false);
    state.FirstShow = false;
    NameEdit->setFocus();
  } else {
    // The fields were accepted before.
    SetNextEnabled(true);
    frame_.NextButton()->setFocus();
  }
  frame_.BackButton()->hide();
  frame_.SetHeader(0, QStringLiteral("Create New Job"),
                   QStringLiteral("Enter name, destination folder and DVD source path."));
  frame_.SelectNotebookPage(kSourcePage);
}

bool SourcePage::Leave(bool forward) {
  if (!forward) return false;
  // A name refused when the edit was left (the click on Next leaves it) was
  // already reported.
  if (CheckJobName(Text(NameEdit)) != JobNameProblem::None) {
    NameEdit->setFocus();
    return false;
  }
  SourceFields fields;
  fields.name = Text(NameEdit);
  fields.location = Text(LocEdit);
  fields.source = Text(SrcEdit);
  fields.job_folder = frame_.State().JobFolder;
  const std::optional<std::string> error = AcceptSourceFields(fields, frame_.State());
  if (error) {
    platform::ShowMessage(frame_.Window(), *error, platform::MessageIcon::Error);
    return false;
  }
  return true;
}

bool SourcePage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == NameEdit) {
    if (event->type() == QEvent::KeyPress)
      return NameEditKeyPress(static_cast<QKeyEvent*>(event)->text());
    if (event->type() == QEvent::FocusOut) {
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      // Leaving the edit for another control, not for another window or a
      // menu.
      if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) NameEditExit();
    }
  }
  return QWidget::eventFilter(watched, event);
}

bool SourcePage::NameEditKeyPress(const QString& text) {
  // Keys without a character (arrows, shortcuts) and backspace go through.
  if (text.isEmpty() || text.at(0) == QChar(u'\b') || text.at(0).category() == QChar::Other_Control)
    return false;
  for (QChar c : text) {
    if (!IsJobNameCharacter(c.unicode())) {
      platform::TheSounds().Play(platform::SystemSound::Default);
      return true;
    }
  }
  return false;
}

void SourcePage::NameEditExit() {
  const std::string name = Text(NameEdit);
  if (name.empty()) return;
  const JobNameProblem problem = CheckJobName(name);
  if (problem == JobNameProblem::None) return;
  platform::ShowMessage(frame_.Window(), JobNameWarning(problem), platform::MessageIcon::Warning);
  NameEdit->setFocus();
}

void SourcePage::NameEditChange() {
  if (NameEdit->text().isEmpty() || LocEdit->text().isEmpty() || !RebuildJobPath()) {
    HidePath();
    SetNextEnabled(false);
    return;
  }
  SetNextEnabled(SourceSyntaxPasses());
}

void SourcePage::LocEditChange() {
  NameEditChange();
}

void SourcePage::SetSource(const std::string& folder) {
  SrcEdit->setText(QString::fromStdString(folder));
}

void SourcePage::SrcEditChange() {
  SetNextEnabled(!SrcEdit->text().isEmpty() && !NameEdit->text().isEmpty() &&
                 SourceSyntaxPasses() && RebuildJobPath());
}

bool SourcePage::RebuildJobPath() {
  WizardState& state = frame_.State();
  const JobPathResult result = BuildJobPath(Text(NameEdit), Text(LocEdit), state.LastJobPathLength);
  if (result.warn_too_long)
    platform::ShowMessage(frame_.Window(), kJobPathTooLong, platform::MessageIcon::Warning);
  if (!result.job_folder) return false;
  state.JobFolder = *result.job_folder;
  PathLabel->setText(QStringLiteral("Job will be created at %1.")
                         .arg(QString::fromStdString(ShortenShownPath(state.JobFolder))));
  PathIcon->show();
  PathLabel->show();
  return true;
}

bool SourcePage::SourceSyntaxPasses() {
  const SourceSyntaxResult result =
      CheckSourceSyntax(Text(SrcEdit), frame_.State().LastSourcePathLength);
  if (result.warn_too_long)
    platform::ShowMessage(frame_.Window(), kSourcePathTooLong, platform::MessageIcon::Warning);
  return result.ok;
}

void SourcePage::HidePath() {
  PathIcon->hide();
  PathLabel->hide();
}

void SourcePage::SetNextEnabled(bool enabled) {
  frame_.NextButton()->setEnabled(enabled);
}

void SourcePage::LocBrowseButtonClick() {
  platform::FolderRequest request;
  request.owner = frame_.Window();
  request.title = "Select destination folder.";
  request.allow_new_folder = true;
  const std::optional<std::string> folder = platform::ChooseFolder(request);
  if (!folder) return;
  if (platform::IsNetworkPath(*folder)) {
    platform::ShowMessage(frame_.Window(), kRemoteDestination, platform::MessageIcon::Warning);
    return;
  }
  LocEdit->setText(QString::fromStdString(*folder));
}

void SourcePage::SrcBrowseButtonClick() {
  platform::FolderRequest request;
  request.owner = frame_.Window();
  request.title = "Select the drive or folder containing the DVD files.";
  request.allow_new_folder = false;
  const std::optional<std::string> folder = platform::ChooseFolder(request);
  if (!folder) return;
  if (platform::IsNetworkPath(*folder)) {
    platform::ShowMessage(frame_.Window(), kRemoteSource, platform::MessageIcon::Warning);
    return;
  }
  SrcEdit->setText(QString::fromStdString(*folder));
}

}  // namespace wizard
