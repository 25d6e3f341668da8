#pragma once

#include <memory>
#include <string>

#include "queue/priority_class.h"

namespace queue {

// What the encoder controller reports to the runner, always on the
// user-interface thread and in the order it happened.
class EncoderEvents {
 public:
  virtual ~EncoderEvents() = default;
  // The running volume's percentage (0 to 100); `changed` when the
  // encoder's own figure moved.
  virtual void ShowVolumeProgress(double percent, bool changed) = 0;
  // Volume `volume` of `volumes` was encoded.
  virtual void VolumeFinished(int volume, int volumes) = 0;
  // The volume did not finish: aborted (failed false) or failed with the
  // message to show.
  virtual void RunStopped(bool failed, const std::string& message) = 0;
};

// Runs the encoder on one volume at a time.
class EncoderController {
 public:
  virtual ~EncoderController() = default;
  virtual void SetEvents(EncoderEvents* events) = 0;
  // Ends whatever runs and releases the child; bounded waits only.
  virtual void Close() = 0;
  // Starts the encoder at `encoder_path` on the encoder job file of volume
  // `volume` of `volumes`, in the current folder. False when it cannot start.
  virtual bool StartVolume(const std::string& encoder_path, const std::string& job_file, int volume,
                           int volumes, PriorityClass priority) = 0;
  // What the encoder said of the last volume's failure: the text of its
  // first "Error: ..." line, empty when it gave none.
  virtual std::string FailureDetail() const { return std::string(); }
  // Asks the running encoder to stop; the end comes as RunStopped(false).
  virtual void RequestStop() = 0;
  // The encoder has printed its banner and written its process id.
  virtual bool BannerSeen() const = 0;
  // A child process is running now.
  virtual bool ChildRunning() const = 0;
  virtual void SetChildPriority(PriorityClass priority) = 0;
  // Stops and continues the running encoder with everything it started;
  // false when no encoder runs.
  virtual bool Pause() = 0;
  virtual bool Resume() = 0;
};

// The controller that runs the real encoder program.
std::unique_ptr<EncoderController> MakeEncoderController();

}  // namespace queue
