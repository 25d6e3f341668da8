#include "outside/producer/segment_pass.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "outside/producer/thread_priority.h"

namespace producer {
namespace {

// How often the joiner looks at the stop flag while nothing else happens.
constexpr auto kStopPoll = std::chrono::milliseconds(50);

}  // namespace

int SegmentPass::DefaultWorkers() {
  if (const char* forced = std::getenv("KESTREVANE_ENCODER_WORKERS")) {
    const int n = std::atoi(forced);
    if (n >= 1) return std::min(n, 64);
  }
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::clamp(CPU_COUNT(&set), 1, 64);
  return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 64);
}

void SegmentPass::Sink::Add(CodedFrame frame) {
  pass_.Delivered(slot_, &frame);
}

void SegmentPass::Sink::Counted() {
  pass_.Delivered(slot_, nullptr);
}

bool SegmentPass::Sink::Halted() const {
  return pass_.stop_ || pass_.halted_;
}

SegmentPass::SegmentPass(std::vector<kv_video_file::VideoFile*> clips,
                         std::vector<Segment> segments, const std::atomic<bool>& stop,
                         ProcessorSlots* processors, int segments_ahead_per_worker)
    : clips_(std::move(clips)),
      segments_(std::move(segments)),
      stop_(stop),
      processors_(processors),
      ahead_per_worker_(std::max(1, segments_ahead_per_worker)) {
  slots_.resize(segments_.size());
}

SegmentPass::~SegmentPass() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    over_ = true;
    halted_ = true;
    changed_.notify_all();
  }
  for (std::thread& worker : workers_)
    if (worker.joinable()) worker.join();
}

void SegmentPass::Delivered(size_t slot, CodedFrame* frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  Slot& s = slots_[slot];
  if (frame) s.frames.push_back(std::move(*frame));
  ++s.delivered;
  if (slot < segments_.size()) ++coded_;
  changed_.notify_all();
}

size_t SegmentPass::SettledBefore(size_t segment) const {
  // A segment is taken only while the one joined is fewer than `ahead`
  // segments before it.
  const size_t ahead = Ahead();
  return segment >= ahead ? segment - ahead + 1 : 0;
}

bool SegmentPass::TakeTask(Task* task, size_t* slot) {
  std::unique_lock<std::mutex> lock(mutex_);
  const size_t ahead = Ahead();
  for (;;) {
    if (halted_ || over_) return false;
    if (!again_.empty()) {
      *task = again_.front();
      *slot = again_slots_.front();
      again_.pop_front();
      again_slots_.pop_front();
      return true;
    }
    if (next_segment_ < segments_.size() && next_segment_ < joining_ + ahead) {
      *task = Task{next_segment_, segments_[next_segment_], false, 0};
      *slot = next_segment_++;
      return true;
    }
    changed_.wait(lock);
  }
}

void SegmentPass::Work(kv_video_file::VideoFile* clip, const CodeTask& code) {
  TakeProcessPriority();
  Task task;
  size_t slot = 0;
  while (TakeTask(&task, &slot)) {
    Sink sink(*this, slot);
    std::string error;
    // A task halted before it had a processor ends with none of its frames.
    const bool coding = AcquireProcessor(task, sink);
    const bool ok = !coding || code(task, *clip, sink, &error);
    if (coding && processors_) processors_->Release();
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& s = slots_[slot];
    s.finished = true;
    s.complete = ok && s.delivered == task.range.Frames();
    if (!ok) {
      if (error_.empty()) error_ = error.empty() ? "a worker failed" : error;
      halted_ = true;
    }
    changed_.notify_all();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  --running_;
  changed_.notify_all();
}

bool SegmentPass::AcquireProcessor(const Task& task, const Sink& sink) {
  if (!processors_) return true;
  const auto halted = [&sink] { return sink.Halted(); };
  if (task.again) return processors_->Acquire(halted);
  {
    std::unique_lock<std::mutex> lock(mutex_);
    // The stop flag is no member of this lock: looked at now and then.
    while (processor_turn_ != task.segment && !halted())
      changed_.wait_for(lock, std::chrono::milliseconds(50));
  }
  const bool acquired = processors_->Acquire(halted);
  std::lock_guard<std::mutex> lock(mutex_);
  processor_turn_ = task.segment + 1;
  changed_.notify_all();
  return acquired;
}

void SegmentPass::NextReading() {
  reading_.pop_front();
  if (!reading_.empty()) return;
  ++joining_;
  changed_.notify_all();
  if (joining_ < segments_.size()) reading_.push_back(Reading{joining_, segments_[joining_]});
}

bool SegmentPass::StartAgain(int64_t from) {
  Reading& r = reading_.front();
  Slot& slot = slots_[r.slot];
  int64_t key = -1;
  for (const CodedFrame& f : slot.frames)
    if (f.key && f.frame > from) {
      key = f.frame;
      break;
    }
  if (key < 0 && !(slot.finished && slot.complete)) return false;
  const int64_t end = key < 0 ? r.range.end : key;
  double bits = 0;
  while (!slot.frames.empty() && slot.frames.front().frame < end) {
    bits += 8.0 * static_cast<double>(slot.frames.front().bytes.size());
    slot.frames.pop_front();
  }
  const size_t again_slot = slots_.size();
  slots_.emplace_back();
  again_.push_back(Task{joining_, Segment{from, end}, true, bits});
  again_slots_.push_back(again_slot);
  const Reading rest{r.slot, Segment{end, r.range.end}};
  reading_.pop_front();
  if (rest.range.Frames() > 0) reading_.push_front(rest);
  reading_.push_front(Reading{again_slot, Segment{from, end}});
  pending_key_ = -1;
  changed_.notify_all();
  return true;
}

bool SegmentPass::JoinReady(const Join& join, std::unique_lock<std::mutex>& lock, bool* ended) {
  while (!reading_.empty()) {
    if (pending_key_ >= 0 && !StartAgain(pending_key_)) break;
    Reading& r = reading_.front();
    Slot& slot = slots_[r.slot];
    if (slot.frames.empty()) {
      if (slot.finished && slot.complete && joined_end_ >= r.range.first) {
        joined_end_ = std::max(joined_end_, r.range.end);
        NextReading();
        continue;
      }
      break;
    }
    CodedFrame frame = std::move(slot.frames.front());
    slot.frames.pop_front();
    if (frame.frame < r.range.first) continue;  // coded again elsewhere
    const Segment range = r.range;
    bool needs_key = false;
    std::string error;
    lock.unlock();
    const bool ok = !join || join(frame, &needs_key, &error);
    lock.lock();
    if (!ok) {
      if (error_.empty()) error_ = error;
      return false;
    }
    if (needs_key) {
      pending_key_ = frame.frame;
      slots_[reading_.front().slot].frames.push_front(std::move(frame));
      continue;
    }
    joined_end_ = frame.frame + 1;
    // A task's frames are all joined; the segment counts as joined once its
    // task has also ended (what it learned is then kept).
    if (joined_end_ >= range.end && slots_[reading_.front().slot].finished) NextReading();
  }
  *ended = reading_.empty();
  return true;
}

PassEnd SegmentPass::Run(const CodeTask& code, const Join& join, const Progress& progress,
                         std::string* error) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!segments_.empty()) reading_.push_back(Reading{0, segments_[0]});
  running_ = static_cast<int>(clips_.size());
  for (kv_video_file::VideoFile* clip : clips_)
    workers_.emplace_back([this, clip, &code] { Work(clip, code); });
  int64_t reported = -1;
  bool failed = false, ended = segments_.empty();
  while (!ended) {
    if (!error_.empty()) {
      failed = true;
      break;
    }
    if (stop_ && !halted_) {
      halted_ = true;
      changed_.notify_all();
    }
    // Once every worker has ended, what they left is joined one last time.
    const bool quiet = halted_ && running_ == 0;
    if (!JoinReady(join, lock, &ended)) {
      failed = true;
      break;
    }
    if (coded_ != reported && progress) {
      reported = coded_;
      lock.unlock();
      progress(reported);
      lock.lock();
    }
    if (ended || quiet) break;
    changed_.wait_for(lock, kStopPoll);
  }
  failed = failed || !error_.empty();
  over_ = true;
  halted_ = true;
  changed_.notify_all();
  lock.unlock();
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
  if (failed) {
    *error = error_;
    return PassEnd::Failed;
  }
  return ended ? PassEnd::Done : PassEnd::Stopped;
}

}  // namespace producer
