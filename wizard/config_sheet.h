#pragma once

#include <QGroupBox>
#include <QLayout>
#include <QLineEdit>
#include <QWidget>
#include <functional>
#include <initializer_list>

#include "queue/up_down.h"
#include "wizard/config_controls.h"
#include "wizard/job_settings.h"

namespace wizard {

// What the configuration page gives its sheets.
class ConfigSheets {
 public:
  virtual ~ConfigSheets() = default;

  virtual JobSettings& Settings() = 0;
  // While the page shows settings the sheets' handlers do nothing.
  virtual bool HandlersActive() const = 0;
  virtual void SetHandlersActive(bool active) = 0;
  // Every sheet shows the settings again, with the controls they enable.
  virtual void ShowSettings() = 0;
  // Only the controls the settings enable, the fields left as they are.
  virtual void ShowEnabled() = 0;
  // The output width as its field holds it, else the settings' own: a
  // change of the crop or the subtitles sizes the picture from it.
  virtual int OutputWidthField() const = 0;
  // The window that owns the sheets' message boxes.
  virtual QWidget* MessageOwner() = 0;
};

// Holds the sheets' handlers off for a scope and puts the switch back.
class HandlersOff {
 public:
  explicit HandlersOff(ConfigSheets& page) : page_(page), saved_(page.HandlersActive()) {
    page_.SetHandlersActive(false);
  }
  ~HandlersOff() { page_.SetHandlersActive(saved_); }
  HandlersOff(const HandlersOff&) = delete;
  HandlersOff& operator=(const HandlersOff&) = delete;

 private:
  ConfigSheets& page_;
  bool saved_;
};

// One sheet of the configuration page: it builds its controls once it is
// in the page, shows the settings and which controls can be used, and hands
// its controls' changes to the settings' changes (settings_changes.h).
class ConfigSheet : public QWidget {
 public:
  ConfigSheet(ConfigSheets& page, const char* name);

  virtual void Build() = 0;
  // Called with the handlers held off.
  virtual void ShowSettings(const JobSettings& s) = 0;
  virtual void ShowEnabled(const ConfigControls& enabled) = 0;

 protected:
  JobSettings& Settings() { return page_.Settings(); }
  bool HandlersActive() const { return page_.HandlersActive(); }
  // After a change: every sheet shows the settings.
  void Changed() { page_.ShowSettings(); }
  // A change typed into `edit`: the field keeps the text being typed while
  // the sheets show what follows from it.
  void TypedChange(QLineEdit* edit, const std::function<void()>& change);
  // The number into its field, unless that field is being typed in.
  void ShowNumber(QLineEdit* edit, int value);
  // A number field with its up-down: `edit` and `up_down` get the names
  // `name` + "Edit" and `name` + "UpDown".
  static void MakeSpinner(QWidget* parent, const char* name, int max_length, int minimum,
                          int maximum, int increment, QLineEdit*& edit, queue::UpDown*& up_down);
  // The value of a spinner that holds an integer, else `fallback`.
  static int FieldValue(const QLineEdit* edit, const queue::UpDown* up_down, int fallback);

  ConfigSheets& page_;

 private:
  QLineEdit* typing_ = nullptr;
};

// What the sheets' layouts share: they are dense, groups and rows sit close
// together.
inline constexpr int kSheetMargin = 3;
void Compact(QLayout* layout);
QGroupBox* Group(QWidget* parent, const char* name, const char* title);
void SetAllEnabled(std::initializer_list<QWidget*> widgets, bool enabled);

}  // namespace wizard
