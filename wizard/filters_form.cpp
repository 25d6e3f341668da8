#include "wizard/filters_form.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include "wizard/option_choices.h"

namespace wizard {

void CentreOnOwner(QWidget* window) {
  const QWidget* owner = window->parentWidget();
  QRect area = owner != nullptr ? owner->frameGeometry() : QRect();
  if (owner == nullptr || !owner->isVisible()) {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
      area = screen->availableGeometry();
  }
  QRect frame = window->frameGeometry();
  frame.moveCenter(area.center());
  window->move(frame.topLeft());
}

TKVNNewFiltersForm::TKVNNewFiltersForm(JobSettings& settings, QWidget* wizard, QWidget* owner)
    : QWidget(owner, Qt::Tool), settings_(settings), wizard_(wizard) {
  setObjectName(QStringLiteral("TKVNNewFiltersForm"));
  setWindowTitle(QStringLiteral("Filter options"));

  DeintGroupBox = new QGroupBox(QStringLiteral("Deinterlace"), this);
  DeintGroupBox->setObjectName(QStringLiteral("DeintGroupBox"));
  DeintMethodLabel = new QLabel(QStringLiteral("Method:"), DeintGroupBox);
  DeintMethodLabel->setObjectName(QStringLiteral("DeintMethodLabel"));
  DeintMethodCombo = new QComboBox(DeintGroupBox);
  DeintMethodCombo->setObjectName(QStringLiteral("DeintMethodCombo"));
  DeintMethodCombo->addItems(
      {QStringLiteral("None"), QStringLiteral("Normal"), QStringLiteral("Full")});
  DeintMethodLabel->setBuddy(DeintMethodCombo);
  auto* deinterlace = new QGridLayout(DeintGroupBox);
  deinterlace->addWidget(DeintMethodLabel, 0, 0);
  deinterlace->addWidget(DeintMethodCombo, 0, 1);
  deinterlace->setColumnStretch(1, 1);

  IVTCGroupBox = new QGroupBox(QStringLiteral("Inverse telecine"), this);
  IVTCGroupBox->setObjectName(QStringLiteral("IVTCGroupBox"));
  IVTCMethodLabel = new QLabel(QStringLiteral("Method:"), IVTCGroupBox);
  IVTCMethodLabel->setObjectName(QStringLiteral("IVTCMethodLabel"));
  IVTCMethodCombo = new QComboBox(IVTCGroupBox);
  IVTCMethodCombo->setObjectName(QStringLiteral("IVTCMethodCombo"));
  IVTCMethodCombo->addItems(
      {QStringLiteral("None"), QStringLiteral("Simple"), QStringLiteral("Complex")});
  IVTCMethodLabel->setBuddy(IVTCMethodCombo);
  IVTCFieldLabel = new QLabel(QStringLiteral("Field order:"), IVTCGroupBox);
  IVTCFieldLabel->setObjectName(QStringLiteral("IVTCFieldLabel"));
  IVTCFieldCombo = new QComboBox(IVTCGroupBox);
  IVTCFieldCombo->setObjectName(QStringLiteral("IVTCFieldCombo"));
  IVTCFieldCombo->addItems(
      {QStringLiteral("Top field first"), QStringLiteral("Bottom field first")});
  IVTCFieldLabel->setBuddy(IVTCFieldCombo);
  auto* ivtc = new QGridLayout(IVTCGroupBox);
  ivtc->addWidget(IVTCMethodLabel, 0, 0);
  ivtc->addWidget(IVTCMethodCombo, 0, 1);
  ivtc->addWidget(IVTCFieldLabel, 1, 0);
  ivtc->addWidget(IVTCFieldCombo, 1, 1);
  ivtc->setColumnStretch(1, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(DeintGroupBox);
  layout->addWidget(IVTCGroupBox);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(IVTCMethodCombo, &QComboBox::currentIndexChanged, this,
          &TKVNNewFiltersForm::IVTCMethodComboChange);
}

void TKVNNewFiltersForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TKVNNewFiltersForm::closeEvent(QCloseEvent* event) {
  // Hidden, not destroyed: the owner keeps the window.
  event->accept();
  FormClose();
}

void TKVNNewFiltersForm::FormShow() {
  wizard_->setEnabled(false);
  // A window of the disabled wizard or queue window is enabled on its own.
  setEnabled(true);
  CentreOnOwner(this);
  activateWindow();
  handlers_active_ = false;
  // Inverse telecine is a matter of NTSC film only.
  const bool ntsc = !settings_.Facts.PalVideo;
  for (QWidget* widget : std::initializer_list<QWidget*>{IVTCMethodLabel, IVTCMethodCombo,
                                                         IVTCFieldLabel, IVTCFieldCombo})
    widget->setEnabled(ntsc);
  const FilterChoice choice = FilterChoiceOf(settings_);
  DeintMethodCombo->setCurrentIndex(choice.Deinterlace);
  IVTCMethodCombo->setCurrentIndex(choice.Ivtc);
  IVTCFieldCombo->setCurrentIndex(choice.FieldOrder);
  handlers_active_ = true;
  IVTCMethodComboChange();
}

void TKVNNewFiltersForm::IVTCMethodComboChange() {
  if (!handlers_active_) return;
  const int method = IVTCMethodCombo->currentIndex();
  const bool complex = method == 2;
  IVTCFieldLabel->setEnabled(complex);
  IVTCFieldCombo->setEnabled(complex);
  // Inverse telecine and deinterlacing never run together.
  if (method != 0) DeintMethodCombo->setCurrentIndex(0);
  DeintMethodLabel->setEnabled(method == 0);
  DeintMethodCombo->setEnabled(method == 0);
}

void TKVNNewFiltersForm::FormClose() {
  FilterChoice choice;
  choice.Deinterlace = DeintMethodCombo->currentIndex();
  choice.Ivtc = IVTCMethodCombo->currentIndex();
  choice.FieldOrder = IVTCFieldCombo->currentIndex();
  ApplyFilterChoice(settings_, choice);
  wizard_->setEnabled(true);
  emit Closed();
}

}  // namespace wizard
