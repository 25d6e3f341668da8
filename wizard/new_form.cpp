#include "wizard/new_form.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include "platform/file_system.h"
#include "platform/message_box.h"
#include "queue/folder_tree.h"
#include "wizard/analysis_page.h"
#include "wizard/config_page.h"
#include "wizard/source_page.h"
#include "wizard/title_page.h"
#include "wizard/writer_steps.h"

namespace wizard {

namespace {

constexpr int kClientWidth = 461;
constexpr int kClientHeight = 350;
constexpr int kHeaderHeight = 64;
constexpr int kNotebookWidth = 460;
constexpr int kNotebookHeight = 240;

const char* const kCloseQuestion = "Do you really want to close this wizard?";

QPixmap Picture(const char* name, int width, int height) {
  return QIcon(QStringLiteral(":/wizard/%1.svg").arg(QLatin1String(name))).pixmap(width, height);
}

QLabel* HeaderLabel(const char* name, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(QLatin1String(name));
  label->setAttribute(Qt::WA_TranslucentBackground);
  return label;
}

QPushButton* Button(const char* name, const char* text, QWidget* parent) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setObjectName(QLatin1String(name));
  return button;
}

}  // namespace

TKVNNewForm::TKVNNewForm(std::shared_ptr<WizardHost> host, const std::string& dvd_source)
    : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      host_(std::move(host)),
      owner_(host_->DialogOwner()) {
  // Not a child of the queue window: that one is disabled while the wizard
  // is open, and a child window would be disabled with it.
  setObjectName(QStringLiteral("TKVNNewForm"));
  setWindowTitle(QStringLiteral("Kestrevane - New Job"));
  BuildHeader();
  Notebook = new QStackedWidget(this);
  Notebook->setObjectName(QStringLiteral("Notebook"));
  BuildButtonRow();
  BuildPages();
  PlaceControls();
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  host_->AttachWorkingWindow(this);
  // The wizard goes with its owner.
  if (owner_) connect(owner_, &QObject::destroyed, this, &QObject::deleteLater);
  // Filled in as if typed, so the page's own checks apply to it when the
  // user goes on.
  if (!dvd_source.empty()) source_page_->SetSource(dvd_source);
}

TKVNNewForm::~TKVNNewForm() {
  // The pages go before the state they work on; the analysis page stops its
  // worker.
  delete Notebook;
}

void TKVNNewForm::BuildHeader() {
  Header = new QWidget(this);
  Header->setObjectName(QStringLiteral("Header"));
  Header->setAutoFillBackground(true);
  QPalette palette = Header->palette();
  palette.setColor(QPalette::Window, Qt::white);
  palette.setColor(QPalette::WindowText, Qt::black);
  Header->setPalette(palette);

  HeaderBack = HeaderLabel("HeaderBack", Header);
  HeaderBack->setScaledContents(true);
  HeaderBack->setPixmap(Picture("header_back", kClientWidth, kHeaderHeight));

  HeaderIcon = HeaderLabel("HeaderIcon", Header);
  HeaderIcon->setFixedSize(48, 48);
  for (const char* name : {"page_source", "page_analysis", "page_title", "page_config"})
    HeaderIconList.push_back(QIcon(QStringLiteral(":/wizard/%1.svg").arg(QLatin1String(name))));

  HeaderTitle = HeaderLabel("HeaderTitle", Header);
  QFont title_font = HeaderTitle->font();
  title_font.setBold(true);
  title_font.setPixelSize(15);
  HeaderTitle->setFont(title_font);

  // The comment wraps rather than running under the logo.
  HeaderComment = HeaderLabel("HeaderComment", Header);
  QFont comment_font = HeaderComment->font();
  comment_font.setPixelSize(13);
  HeaderComment->setFont(comment_font);
  HeaderComment->setWordWrap(true);
  HeaderComment->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  RealLogo = HeaderLabel("RealLogo", Header);
  RealLogo->setFixedSize(64, 64);
  RealLogo->setPixmap(Picture("logo", 64, 64));

  auto* texts = new QVBoxLayout();
  texts->setContentsMargins(0, 6, 0, 2);
  texts->setSpacing(2);
  texts->addWidget(HeaderTitle);
  texts->addWidget(HeaderComment, 1);
  auto* row = new QHBoxLayout(Header);
  row->setContentsMargins(8, 0, 0, 0);
  row->setSpacing(8);
  row->addWidget(HeaderIcon, 0, Qt::AlignVCenter);
  row->addLayout(texts, 1);
  row->addWidget(RealLogo, 0, Qt::AlignTop);
}

void TKVNNewForm::BuildButtonRow() {
  LineBevel = new QFrame(this);
  LineBevel->setObjectName(QStringLiteral("LineBevel"));
  LineBevel->setFrameShape(QFrame::HLine);
  LineBevel->setFrameShadow(QFrame::Sunken);

  PreviewButton_ = Button("PreviewButton", "Preview", this);
  PreviewButton_->hide();
  BackButton_ = Button("BackButton", "< Back", this);
  BackButton_->hide();
  BackButton_->setEnabled(false);
  NextButton_ = Button("NextButton", "Next >", this);
  NextButton_->setEnabled(false);
  CancelButton = Button("CancelButton", "Cancel", this);

  connect(NextButton_, &QPushButton::clicked, this, &TKVNNewForm::NextButtonClick);
  connect(BackButton_, &QPushButton::clicked, this, &TKVNNewForm::BackButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TKVNNewForm::CancelButtonClick);
}

void TKVNNewForm::PlaceControls() {
  // The design size, or more where the desktop's font needs more room for
  // a page's controls; the header and the button row follow the notebook.
  const QSize notebook =
      QSize(kNotebookWidth, kNotebookHeight).expandedTo(Notebook->minimumSizeHint());
  const int width = notebook.width() + (kClientWidth - kNotebookWidth);
  const int top = kHeaderHeight + notebook.height();
  setFixedSize(width, top + (kClientHeight - kHeaderHeight - kNotebookHeight));
  Header->setGeometry(0, 0, width, kHeaderHeight);
  HeaderBack->setGeometry(0, 0, width, kHeaderHeight);
  Notebook->setGeometry(0, kHeaderHeight, notebook.width(), notebook.height());
  LineBevel->setGeometry(8, top + 2, width - 16, 2);
  const int row = top + 14;
  PreviewButton_->setGeometry(8, row, 75, 25);
  BackButton_->setGeometry(width - 248, row, 75, 25);
  NextButton_->setGeometry(width - 173, row, 75, 25);
  CancelButton->setGeometry(width - 85, row, 75, 25);
}

void TKVNNewForm::AddPage(WizardPageIndex index, const char* name, QWidget* widget,
                          WizardPage* page) {
  widget->setObjectName(QLatin1String(name));
  Notebook->insertWidget(index, widget);
  pages_[index] = page;
}

// The pages in notebook order. Each page is built here by its own class.
void TKVNNewForm::BuildPages() {
  source_page_ = new SourcePage(*this);
  AddPage(kSourcePage, "Step1", source_page_, source_page_);
  analysis_page_ = new AnalysisPage(*this, [host = host_] { return host->Jobs(); });
  AddPage(kAnalysisPage, "Step2", analysis_page_, analysis_page_);
  auto* title = new TitlePage(*this);
  AddPage(kTitlePage, "Step3", title, title);
  auto* config = new ConfigPage(*this, nullptr);
  // The page opens the crop dialog over its margins itself.
  AddPage(kConfigPage, "Step5", config, config);
}

void TKVNNewForm::SetHeader(int icon, const QString& title, const QString& comment) {
  if (icon >= 0 && icon < HeaderIconList.size())
    HeaderIcon->setPixmap(HeaderIconList[icon].pixmap(48, 48));
  HeaderTitle->setText(title);
  HeaderComment->setText(comment);
}

void TKVNNewForm::SetHeaderComment(const QString& comment) {
  HeaderComment->setText(comment);
}

void TKVNNewForm::SelectNotebookPage(WizardPageIndex page) {
  Notebook->setCurrentIndex(page);
  const bool finish = page == kConfigPage;
  NextButton_->setText(finish ? QStringLiteral("Finish") : QStringLiteral("Next >"));
  QFont font = NextButton_->font();
  font.setBold(finish);
  NextButton_->setFont(font);
  if (!finish) PreviewButton_->hide();
}

void TKVNNewForm::EnterPage(WizardPageIndex index) {
  current_ = index;
  SelectNotebookPage(index);
  pages_[index]->Enter();
  // What the page shows now may need more room.
  PlaceControls();
}

void TKVNNewForm::NextButtonClick() {
  const WizardPageIndex from = current_;
  if (!pages_[from]->Leave(true)) return;
  // Leaving the configuration page forwards is Finish: the job is written and
  // queued, and the wizard released whatever came of it.
  if (from == kConfigPage) {
    FinishWizard(*this);
    return;
  }
  EnterPage(static_cast<WizardPageIndex>(from + 1));
}

void TKVNNewForm::BackButtonClick() {
  const WizardPageIndex from = current_;
  if (from == kSourcePage || !pages_[from]->Leave(false)) return;
  // Going back from the title page discards the analysis: page 1 again.
  EnterPage(from == kConfigPage ? kTitlePage : kSourcePage);
}

void TKVNNewForm::CancelButtonClick() {
  close();
}

void TKVNNewForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (owner_ && owner_->windowHandle() && windowHandle())
    windowHandle()->setTransientParent(owner_->windowHandle());
  if (shown_before_) return;
  shown_before_ = true;
  FormShow();
}

void TKVNNewForm::FormShow() {
  unsetCursor();
  EnterPage(kSourcePage);
}

void TKVNNewForm::closeEvent(QCloseEvent* event) {
  FormClose(event);
}

void TKVNNewForm::FormClose(QCloseEvent* event) {
  if (released_) {
    event->accept();
    return;
  }
  // While the analysis runs, the close question is its abort question.
  const bool confirmed =
      state_.AnalysisRunning
          ? analysis_page_->AbortAnalysis(AnalysisPage::Question::Close)
          : platform::AskYesNo(this, kCloseQuestion, platform::MessageIcon::Warning);
  if (!confirmed) {
    host_->SetClosingInProgress(false);
    event->ignore();
    return;
  }
  for (WizardPage* page : pages_) page->WizardClosing();
  // Past page 1 the job's folder is the one the analysis made; on page 1 the
  // wizard has nothing on disk, whatever the fields name.
  if (current_ != kSourcePage && !state_.JobFolder.empty() &&
      platform::DirectoryExists(state_.JobFolder))
    queue::RemoveFolderTree(state_.JobFolder);
  event->accept();
  released_ = true;
  ReturnToOwner(host_->ClosingInProgress());
}

queue::JobStore::AddResult TKVNNewForm::AddJobFromFolder(const std::string& folder) {
  return host_->AddJobFromFolder(folder);
}

void TKVNNewForm::Release() {
  if (released_) return;
  released_ = true;
  hide();
  ReturnToOwner(false);
}

void TKVNNewForm::ReturnToOwner(bool close_owner) {
  deleteLater();
  if (!owner_) return;
  if (close_owner)
    owner_->close();
  else
    owner_->setEnabled(true);
}

}  // namespace wizard
