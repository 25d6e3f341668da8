#pragma once

namespace queue {

// When the computer is switched off: after all work, after a number of jobs
// or after a number of volumes.
enum class ShutdownChoice { All, Jobs, Volumes };

// A count of jobs or volumes still to go before the power-off, and its
// maximum (the work there is to count). The position stays within 1 and the
// maximum while that range is not empty; 0 stands for "nothing to count".
struct ShutdownCounter {
  static constexpr int kMinimum = 1;
  int position = 1;
  int maximum = 1;

  void SetPosition(int value);
  // One step up or down, as the arrows beside the count give it.
  void StepUp();
  void StepDown();
};

// The power-off options and the counting rules of a run.
struct ShutdownOptions {
  bool enabled = false;  // "Turn off computer when done..."
  ShutdownChoice choice = ShutdownChoice::All;
  ShutdownCounter jobs;
  ShutdownCounter volumes;

  bool Counts(ShutdownChoice counted) const { return enabled && choice == counted; }
  // Both counts hold a number other than 0: the choices can be used.
  bool Usable() const { return enabled && jobs.position != 0 && volumes.position != 0; }

  // Keeps each position within its maximum, shows 1 where there is work but
  // the count stood at 0, and 0 where there is nothing to count.
  void Normalise();

  // A volume was encoded; true when the count stops the run after it.
  bool CountFinishedVolume();
  // A job was completed; true when the count stops the run after it.
  bool CountCompletedJob();
  // A job failed with `volumes_left` volumes not encoded; it counts as one
  // job and as all those volumes. True when the run stops after it.
  bool CountFailedJob(int volumes_left);
};

}  // namespace queue
