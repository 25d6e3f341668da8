#include "wizard/numeric_entry.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <algorithm>

#include "platform/message_box.h"
#include "platform/sounds.h"
#include "queue/up_down.h"

namespace wizard {

namespace {

// The character a key types, 0 for keys that type nothing or are shortcuts.
QChar TypedCharacter(const QKeyEvent& event) {
  if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return {};
  // Focus keys move between controls and type nothing into the field.
  if (event.key() == Qt::Key_Tab || event.key() == Qt::Key_Backtab) return {};
  const QString text = event.text();
  return text.isEmpty() ? QChar() : text.front();
}

}  // namespace

bool IsNumberKey(const QKeyEvent& event) {
  const QChar c = TypedCharacter(event);
  if (c.isNull() || c == QChar(u'\b')) return true;
  return c >= QChar(u'0') && c <= QChar(u'9');
}

bool IsClipTextKey(const QKeyEvent& event) {
  const QChar c = TypedCharacter(event);
  if (c.isNull() || c == QChar(u'\b')) return true;
  const char16_t code = c.unicode();
  if (code >= 128) return false;
  return code != u'"' && code != u'&' && code != u'\'' && code != u'<' && code != u'>';
}

bool HoldsInteger(const QLineEdit& edit) {
  const QString text = edit.text();
  if (text.isEmpty()) return false;
  for (QChar c : text) {
    if (c < QChar(u'0') || c > QChar(u'9')) return false;
  }
  bool ok = false;
  text.toInt(&ok);
  return ok;
}

int SpinnerValue(const queue::UpDown& up_down) {
  const int position = up_down.Position();
  if (up_down.Minimum() > up_down.Maximum()) return position;
  return std::clamp(position, up_down.Minimum(), up_down.Maximum());
}

bool CheckNumberField(QLineEdit& edit, const NumberMessages& messages) {
  const char* problem = nullptr;
  if (edit.text().isEmpty()) {
    problem = messages.empty;
  } else if (!HoldsInteger(edit)) {
    problem = messages.invalid;
  }
  if (problem == nullptr) return true;
  platform::ShowMessage(edit.window(), problem, platform::MessageIcon::Warning);
  edit.setFocus(Qt::OtherFocusReason);
  return false;
}

EditWatcher::EditWatcher(QWidget* edit, std::function<bool(const QKeyEvent&)> accepts,
                         std::function<void()> left)
    : QObject(edit), accepts_(std::move(accepts)), left_(std::move(left)) {
  edit->installEventFilter(this);
}

bool EditWatcher::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && accepts_) {
    if (!accepts_(*static_cast<QKeyEvent*>(event))) {
      platform::TheSounds().Play(platform::SystemSound::Default);
      return true;
    }
  } else if (event->type() == QEvent::FocusOut && left_) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) left_();
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace wizard
