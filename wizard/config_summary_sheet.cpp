#include "wizard/config_summary_sheet.h"

#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QTextCursor>

#include "platform/message_box.h"
#include "wizard/config_texts.h"
#include "wizard/numeric_entry.h"
#include "wizard/settings_changes.h"

namespace wizard {

void SummarySheet::Build() {
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(kSheetMargin, kSheetMargin, kSheetMargin, kSheetMargin);
  grid->setVerticalSpacing(3);
  auto row = [this, grid](int at, const char* caption, QWidget* field) {
    auto* label = new QLabel(QString::fromLatin1(caption), this);
    label->setBuddy(field);
    grid->addWidget(label, at, 0, Qt::AlignTop);
    grid->addWidget(field, at, 1);
  };
  auto edit = [this](const char* name) {
    auto* line = new QLineEdit(this);
    line->setObjectName(QLatin1String(name));
    line->setMaxLength(kMaxClipTextLength);
    return line;
  };
  InfoTitleEdit = edit("InfoTitleEdit");
  InfoAuthorEdit = edit("InfoAuthorEdit");
  InfoCopyEdit = edit("InfoCopyEdit");
  InfoWordsEdit = edit("InfoWordsEdit");
  InfoDescMemo = new QPlainTextEdit(this);
  InfoDescMemo->setObjectName(QStringLiteral("InfoDescMemo"));
  InfoDescMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  InfoDescMemo->setTabChangesFocus(true);
  InfoDescMemo->setMinimumHeight(InfoDescMemo->fontMetrics().lineSpacing() * 2 + 8);
  InfoRatingCombo = new QComboBox(this);
  InfoRatingCombo->setObjectName(QStringLiteral("InfoRatingCombo"));
  for (const char* rating : kRatingTexts) InfoRatingCombo->addItem(QString::fromLatin1(rating));
  row(0, "Title:", InfoTitleEdit);
  row(1, "Author:", InfoAuthorEdit);
  row(2, "Copyright:", InfoCopyEdit);
  row(3, "Keywords:", InfoWordsEdit);
  row(4, "Description:", InfoDescMemo);
  row(5, "Rating:", InfoRatingCombo);
  grid->setRowStretch(4, 1);

  // The texts the wizard starts with.
  const JobSettings& settings = Settings();
  InfoTitleEdit->setText(QString::fromStdString(settings.Title));
  InfoAuthorEdit->setText(QString::fromStdString(settings.Author));
  InfoCopyEdit->setText(QString::fromStdString(settings.Copyright));
  InfoWordsEdit->setText(QString::fromStdString(settings.Keywords));
  InfoDescMemo->setPlainText(QString::fromStdString(settings.Description));
  InfoRatingCombo->setCurrentIndex(settings.Rating);

  for (QLineEdit* line : {InfoTitleEdit, InfoAuthorEdit, InfoCopyEdit, InfoWordsEdit}) {
    connect(line, &QLineEdit::textChanged, this, &SummarySheet::InfoEditChange);
    new EditWatcher(line, IsClipTextKey, [this, line] { InfoEditExit(line); });
  }
  connect(InfoDescMemo, &QPlainTextEdit::textChanged, this, &SummarySheet::InfoEditChange);
  new EditWatcher(InfoDescMemo, IsClipTextKey, [this] { InfoEditExit(InfoDescMemo); });
  connect(InfoRatingCombo, &QComboBox::currentIndexChanged, this,
          &SummarySheet::InfoRatingComboChange);
}

void SummarySheet::ShowSettings(const JobSettings& s) {
  InfoRatingCombo->setCurrentIndex(s.Rating);
}

void SummarySheet::InfoEditChange() {
  // Only texts the encoder job file can hold are kept; a pasted text that
  // is refused on leaving never reaches the settings.
  JobSettings& s = Settings();
  TypeClipText(s.Title, InfoTitleEdit->text().toStdString());
  TypeClipText(s.Author, InfoAuthorEdit->text().toStdString());
  TypeClipText(s.Copyright, InfoCopyEdit->text().toStdString());
  TypeClipText(s.Keywords, InfoWordsEdit->text().toStdString());
  QString description = InfoDescMemo->toPlainText();
  if (description.size() > static_cast<qsizetype>(kMaxClipDescriptionLength)) {
    // The memo holds at most this many characters.
    description.truncate(kMaxClipDescriptionLength);
    QSignalBlocker block(InfoDescMemo);
    InfoDescMemo->setPlainText(description);
    InfoDescMemo->moveCursor(QTextCursor::End);
  }
  TypeClipText(s.Description, description.toStdString(), kMaxClipDescriptionLength);
}

void SummarySheet::InfoEditExit(QWidget* edit) {
  const QString text =
      edit == InfoDescMemo ? InfoDescMemo->toPlainText() : static_cast<QLineEdit*>(edit)->text();
  for (QChar c : text) {
    if (!IsClipTextCharacter(static_cast<char>(c.unicode() < 128 ? c.unicode() : 128))) {
      platform::ShowMessage(page_.MessageOwner(),
                            "This text contains invalid characters. Please enter a valid text!",
                            platform::MessageIcon::Warning);
      edit->setFocus(Qt::OtherFocusReason);
      return;
    }
  }
}

void SummarySheet::InfoRatingComboChange() {
  if (!HandlersActive() || InfoRatingCombo->currentIndex() < 0) return;
  Settings().Rating = InfoRatingCombo->currentIndex();
}

}  // namespace wizard
