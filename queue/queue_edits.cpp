#include "queue/queue_edits.h"

#include "platform/drive.h"
#include "platform/message_box.h"

namespace queue {

AddOutcome AddJobFolder(JobRunner& runner, const std::string& folder, QWidget* owner) {
  if (platform::IsNetworkPath(folder)) {
    platform::ShowMessage(owner, "Jobs cannot be processed from a remote computer!",
                          platform::MessageIcon::Warning);
    return AddOutcome::Remote;
  }
  const JobStore::AddResult result = runner.AddJobFromFolder(folder);
  if (!result.valid) {
    platform::ShowMessage(owner, "The selected folder does not contain a valid job!",
                          platform::MessageIcon::Error);
    return AddOutcome::NotAJob;
  }
  if (result.already_listed) {
    platform::ShowMessage(owner, "Job is already added to the list.",
                          platform::MessageIcon::Information);
    return AddOutcome::AlreadyListed;
  }
  return AddOutcome::Added;
}

RemoveOutcome RemoveJobAsking(JobRunner& runner, size_t row, QWidget* owner) {
  if (row >= runner.Jobs().Jobs().size()) return RemoveOutcome::NoSuchJob;
  if (runner.Running()) return RemoveOutcome::RunGoesOn;
  if (runner.Jobs().Jobs()[row].State == JobState::Pending &&
      !platform::AskYesNo(owner, "Do you really want remove this job from the queue?",
                          platform::MessageIcon::Information))
    return RemoveOutcome::Kept;
  return runner.RemoveJob(row) ? RemoveOutcome::Removed : RemoveOutcome::RunGoesOn;
}

bool CanMoveUp(const JobRunner& runner, size_t row) {
  return !runner.Running() && row > 0 && row < runner.Jobs().Jobs().size();
}

bool CanMoveDown(const JobRunner& runner, size_t row) {
  return !runner.Running() && row + 1 < runner.Jobs().Jobs().size();
}

size_t MoveJobTo(JobRunner& runner, size_t row, size_t target) {
  while (row > target && CanMoveUp(runner, row) && runner.SwapJobs(row, row - 1)) --row;
  while (row < target && CanMoveDown(runner, row) && runner.SwapJobs(row, row + 1)) ++row;
  return row;
}

}  // namespace queue
