#include "tests/wizard/clipped_captions.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextDocument>
#include <algorithm>

#include "queue/up_down.h"

namespace kv_test {
namespace {

// The widest run of the text that a word wrap cannot break.
int WidestWord(const QFontMetrics& metrics, const QString& text) {
  static const QRegularExpression kBreaks(QStringLiteral("[\\s\\x{200B}]+"));
  int widest = 0;
  for (const QString& word : text.split(kBreaks, Qt::SkipEmptyParts))
    widest = std::max(widest, metrics.horizontalAdvance(word));
  return widest;
}

// Whether a label's text fits the rectangle it is drawn in, measured by the
// label's font rather than by the label's own size hint.
bool LabelFits(const QLabel& label) {
  const QString text = label.text();
  if (text.isEmpty()) return true;  // a picture, or nothing yet
  const QRect area = label.contentsRect().adjusted(label.margin(), label.margin(), -label.margin(),
                                                   -label.margin());
  if (Qt::mightBeRichText(text)) {
    QTextDocument document;
    document.setDefaultFont(label.font());
    document.setDocumentMargin(0);
    document.setHtml(text);
    if (label.wordWrap()) document.setTextWidth(area.width());
    return document.idealWidth() <= area.width() + 0.5 &&
           document.size().height() <= area.height() + 0.5;
  }
  const QFontMetrics metrics(label.font());
  if (label.wordWrap()) {
    const QRect wrapped = metrics.boundingRect(QRect(0, 0, area.width(), 1 << 20),
                                               Qt::TextWordWrap | Qt::TextShowMnemonic, text);
    return WidestWord(metrics, text) <= area.width() && wrapped.height() <= area.height();
  }
  const QSize needed = metrics.size(Qt::TextShowMnemonic, text);
  return needed.width() <= area.width() && needed.height() <= area.height();
}

// Whether a button's caption (and icon) fits the part of the button the
// style draws it in.
bool ButtonFits(const QAbstractButton& button) {
  QStyle::SubElement element;
  if (qobject_cast<const QPushButton*>(&button))
    element = QStyle::SE_PushButtonContents;
  else if (qobject_cast<const QCheckBox*>(&button))
    element = QStyle::SE_CheckBoxContents;
  else if (qobject_cast<const QRadioButton*>(&button))
    element = QStyle::SE_RadioButtonContents;
  else
    return button.size().expandedTo(button.sizeHint()) == button.size();
  QStyleOptionButton option;
  option.initFrom(&button);
  option.text = button.text();
  option.icon = button.icon();
  option.iconSize = button.iconSize();
  const QRect area = button.style()->subElementRect(element, &option, &button);
  const QFontMetrics metrics(button.font());
  QSize needed = metrics.size(Qt::TextShowMnemonic, button.text());
  if (!button.icon().isNull()) needed.rwidth() += button.iconSize().width() + 4;
  return needed.width() <= area.width() && needed.height() <= area.height();
}

bool CaptionFits(const QWidget& widget) {
  if (auto* label = qobject_cast<const QLabel*>(&widget)) return LabelFits(*label);
  if (auto* button = qobject_cast<const QAbstractButton*>(&widget)) return ButtonFits(*button);
  // A list shows each of its items whole; a group box its title and frame.
  if (qobject_cast<const QComboBox*>(&widget))
    return widget.size().expandedTo(widget.sizeHint()) == widget.size();
  if (qobject_cast<const QGroupBox*>(&widget))
    return widget.size().expandedTo(widget.minimumSizeHint()) == widget.size();
  return true;
}

// Whether each of the widget's parents up to `root` holds it whole.
bool InsideParents(const QWidget& widget, const QWidget* root) {
  for (const QWidget* parent = widget.parentWidget(); parent; parent = parent->parentWidget()) {
    if (!parent->rect().contains(QRect(widget.mapTo(parent, QPoint(0, 0)), widget.size())))
      return false;
    if (parent == root) break;
  }
  return true;
}

QString Name(const QWidget& widget) {
  if (!widget.objectName().isEmpty()) return widget.objectName();
  if (auto* label = qobject_cast<const QLabel*>(&widget)) return label->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(&widget)) return button->text();
  if (auto* box = qobject_cast<const QGroupBox*>(&widget)) return box->title();
  return QString::fromLatin1(widget.metaObject()->className());
}

}  // namespace

std::vector<std::string> ClippedCaptions(QWidget* root) {
  std::vector<std::string> clipped;
  for (QWidget* widget : root->findChildren<QWidget*>()) {
    if (!widget->isVisibleTo(root) || widget->isWindow()) continue;
    // The arrows of an up-down have a size of their own.
    if (qobject_cast<queue::UpDown*>(widget->parentWidget())) continue;
    const bool captioned = qobject_cast<QLabel*>(widget) ||
                           qobject_cast<QAbstractButton*>(widget) ||
                           qobject_cast<QComboBox*>(widget) || qobject_cast<QGroupBox*>(widget);
    if (!captioned) continue;
    if (!CaptionFits(*widget) || !InsideParents(*widget, root))
      clipped.push_back(Name(*widget).toStdString());
  }
  return clipped;
}

ScaledApplicationFont::ScaledApplicationFont(double factor) : desktop_font_(QApplication::font()) {
  QFont font = desktop_font_;
  font.setPointSizeF(desktop_font_.pointSizeF() * factor);
  QApplication::setFont(font);
}

ScaledApplicationFont::~ScaledApplicationFont() {
  QApplication::setFont(desktop_font_);
}

}  // namespace kv_test
