#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/support/serve_events.h"
#include "tests/wizard/wizard_fixture.h"
#include "wizard/job_settings.h"

namespace kv_test {

// The road of a job through the real windows: the queue window with the
// real encoder control and clock, New Job opening the wizard as the program
// does, the pages driven as a user drives them, Finish, and the encoder of
// the program folder started as a child process on each volume through the
// frameserver installed in the test's own registry store.
class RoadTest : public WizardTest {
 protected:
  RoadTest();
  ~RoadTest() override;

  // New Job in the queue window; the wizard it opened becomes Wizard().
  void NewJob();
  // Page 1 typed and Next; the analysis runs to its end. `disc` is a sample
  // disc's name or a DVD folder's path. With `import`, the question about a
  // pending job's analysis is expected and answered Yes.
  void Analyse(const std::string& disc, const std::string& name, bool import = false);
  // Page 3: the program chain (and its angle, from 1) chosen in the tree and
  // Next; the title is prepared behind the wait window and the
  // configuration page entered.
  void ChooseTitle(int vts, int pgc, int angle = 0);
  // A job of `disc` up to its configuration page.
  void StartJob(const std::string& disc, const std::string& name, int vts, int pgc,
                bool import = false, int angle = 0);

  // The configuration page's controls, on the sheet that holds them.
  void Reveal(QWidget* control);
  void ClickControl(const char* name);
  // Clicks the up arrow of an up-down `steps` times.
  void StepUp(const char* name, int steps);
  // Types `text` into a number or text field and leaves it.
  void TypeInto(const char* name, const std::string& text);
  // A check box of the configuration page set to `on` by a click.
  void SetCheck(const char* name, bool on);
  void ChooseInCombo(const char* name, int index);
  // Average bit rate of `kbps` for the whole job.
  void AverageBitrate(int kbps);
  // The filter dialog: deinterlacing (0 none, 1 normal, 2 full) and inverse
  // telecine (0 none, 1 simple, 2 complex) chosen, then closed.
  void ChooseFilters(int deinterlace, int ivtc);

  // Finish: the job is written and queued, the wizard gone. The settings
  // as they stood, and the job's folder.
  struct Finished {
    wizard::JobSettings settings;
    std::string folder, name;
  };
  Finished Finish();

  // Encode of one row, or Batch Encode; served until the queue is idle.
  void EncodeRow(int row);
  void EncodeAll();

  // The files of a folder, hidden ones too, sorted.
  static std::vector<std::string> FilesIn(const std::string& folder);

  // The encoded job as ffprobe and FFmpeg see it: exactly `volumes` in its
  // folder and nothing else, RealVideo of the output size and rate, AAC of
  // `channels`, durations adding up to the title's within a frame per
  // volume, each no larger than `max_bytes` (0: any size), decoded without
  // a complaint.
  void ExpectEncodedJob(const Finished& job, const std::vector<std::string>& volumes, int channels,
                        int64_t max_bytes = 0);
};

}  // namespace kv_test
