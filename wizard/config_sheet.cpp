#include "wizard/config_sheet.h"

#include <algorithm>

#include "wizard/numeric_entry.h"

namespace wizard {

namespace {

// A field wide enough for `chars` digits in the current font.
void SetDigitWidth(QLineEdit* edit, int chars) {
  const QFontMetrics metrics(edit->font());
  edit->setFixedWidth(metrics.horizontalAdvance(QLatin1Char('0')) * std::max(chars, 2) + 10);
}

}  // namespace

ConfigSheet::ConfigSheet(ConfigSheets& page, const char* name) : page_(page) {
  setObjectName(QLatin1String(name));
}

void ConfigSheet::TypedChange(QLineEdit* edit, const std::function<void()>& change) {
  typing_ = edit;
  change();
  Changed();
  typing_ = nullptr;
}

void ConfigSheet::ShowNumber(QLineEdit* edit, int value) {
  // The field being typed in keeps the user's text.
  if (edit == typing_) return;
  const QString text = QString::number(value);
  if (edit->text() != text) edit->setText(text);
}

void ConfigSheet::MakeSpinner(QWidget* parent, const char* name, int max_length, int minimum,
                              int maximum, int increment, QLineEdit*& edit,
                              queue::UpDown*& up_down) {
  edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name) + QLatin1String("Edit"));
  edit->setMaxLength(max_length);
  edit->setAlignment(Qt::AlignRight);
  SetDigitWidth(edit, max_length);
  up_down = new queue::UpDown(edit, parent);
  up_down->setObjectName(QLatin1String(name) + QLatin1String("UpDown"));
  up_down->SetMinimum(minimum);
  up_down->SetMaximum(maximum);
  up_down->SetIncrement(increment);
  edit->setText(QString::number(minimum));
}

int ConfigSheet::FieldValue(const QLineEdit* edit, const queue::UpDown* up_down, int fallback) {
  return HoldsInteger(*edit) ? SpinnerValue(*up_down) : fallback;
}

void Compact(QLayout* layout) {
  layout->setContentsMargins(5, 1, 5, 3);
  layout->setSpacing(2);
}

QGroupBox* Group(QWidget* parent, const char* name, const char* title) {
  auto* box = new QGroupBox(QString::fromLatin1(title), parent);
  box->setObjectName(QLatin1String(name));
  return box;
}

void SetAllEnabled(std::initializer_list<QWidget*> widgets, bool enabled) {
  for (QWidget* widget : widgets) widget->setEnabled(enabled);
}

}  // namespace wizard
