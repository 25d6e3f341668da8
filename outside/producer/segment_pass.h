#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "outside/producer/processor_slots.h"
#include "outside/producer/segments.h"

namespace kv_video_file {
class VideoFile;
}

namespace producer {

// A coded frame of the volume; no bytes: the frame was left out.
struct CodedFrame {
  int64_t frame = 0;
  std::vector<uint8_t> bytes;
  bool key = false;
};

enum class PassEnd { Done, Stopped, Failed };

// One pass over a volume's segments: workers (one thread each, each with
// its own instance of the script) take the segments in order, at most a
// few segments ahead of the one being joined, and code them side by side;
// the calling thread joins their frames in frame order as they come. When
// a frame cannot be joined unless it is a key frame (a new part of the
// output starts there), its frames up to the segment's next key frame are
// coded again from a key frame, with the bits they took, before any other
// segment. The stop flag ends every worker at its next frame; what was
// coded in order up to there is joined.
class SegmentPass {
 public:
  struct Task {
    size_t segment = 0;  // index into the segments
    Segment range;       // the whole segment, or the frames coded again
    bool again = false;  // frames coded again from a key frame
    double bits = 0;     // coded again: the bits the frames took the first time
  };

  // What a worker does with a task, adding each frame it codes.
  class Sink {
   public:
    void Add(CodedFrame frame);
    // A frame coded that is not handed on (the analysis).
    void Counted();
    // The task is to end early: the stop flag, a failure elsewhere, or its
    // frames are no longer wanted.
    bool Halted() const;

   private:
    friend class SegmentPass;
    Sink(SegmentPass& pass, size_t slot) : pass_(pass), slot_(slot) {}
    SegmentPass& pass_;
    size_t slot_;
  };
  using CodeTask = std::function<bool(const Task& task, kv_video_file::VideoFile& clip, Sink& sink,
                                      std::string* error)>;

  // Frame `frame` in frame order. False with `error` on a failure; with
  // `needs_key` set, the frame is not joined: it must be a key frame.
  using Join = std::function<bool(const CodedFrame& frame, bool* needs_key, std::string* error)>;
  // The frames coded (once each) so far.
  using Progress = std::function<void(int64_t coded)>;

  // The frames of a segment held for joining are bounded: a worker starts
  // no segment more than this many workers' worth ahead of the one joined.
  // A pass may keep its workers closer, so that a segment starts knowing
  // the segments up to one per worker before it (see SettledBefore).
  static constexpr int kSegmentsAheadPerWorker = 2;

  // Workers: one per processor the process may run on, or as many as the
  // environment's KESTREVANE_ENCODER_WORKERS says (1 to 64).
  static int DefaultWorkers();

  // `processors` (may be null: no limit) says how many workers code at once;
  // segments take them in order. A worker starts no segment more than
  // `segments_ahead_per_worker` (1 or more) workers' worth ahead of the
  // one being joined.
  SegmentPass(std::vector<kv_video_file::VideoFile*> clips, std::vector<Segment> segments,
              const std::atomic<bool>& stop, ProcessorSlots* processors = nullptr,
              int segments_ahead_per_worker = kSegmentsAheadPerWorker);
  ~SegmentPass();
  SegmentPass(const SegmentPass&) = delete;
  SegmentPass& operator=(const SegmentPass&) = delete;

  // Runs the pass. `join` may be null (nothing is joined).
  PassEnd Run(const CodeTask& code, const Join& join, const Progress& progress, std::string* error);
  // Frames joined in order (Stopped: the file holds these).
  int64_t Joined() const { return joined_end_; }
  const std::vector<Segment>& Segments() const { return segments_; }
  // The segments before this index have all been joined, their frames coded
  // again included, and every task of theirs has ended by the time a worker
  // takes `segment`: the same in every run, however fast each thread is,
  // unlike which segments have ended.
  size_t SettledBefore(size_t segment) const;

 private:
  // Where the frames of a task go until they are joined.
  struct Slot {
    std::deque<CodedFrame> frames;
    int64_t delivered = 0;  // frames added or counted
    bool finished = false;
    bool complete = false;  // every frame of the task came
  };
  // What the joiner reads next: the frames [first, end) of a slot.
  struct Reading {
    size_t slot;
    Segment range;
  };

  void Work(kv_video_file::VideoFile* clip, const CodeTask& code);
  bool TakeTask(Task* task, size_t* slot);
  // A processor for the task; segments get theirs in order, so that a
  // segment waiting for what the one before it was given never holds the
  // processor that one waits for. False: halted first.
  bool AcquireProcessor(const Task& task, const Sink& sink);
  size_t Ahead() const { return static_cast<size_t>(ahead_per_worker_) * clips_.size(); }
  void Delivered(size_t slot, CodedFrame* frame);
  bool JoinReady(const Join& join, std::unique_lock<std::mutex>& lock, bool* ended);
  // Queues the frames from `from` to the next key frame of the segment
  // being joined to be coded again; false while they have not all come.
  bool StartAgain(int64_t from);
  void NextReading();

  std::vector<kv_video_file::VideoFile*> clips_;
  std::vector<Segment> segments_;
  const std::atomic<bool>& stop_;
  ProcessorSlots* processors_;
  const int ahead_per_worker_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Slot> slots_;  // one per segment, then one per task of frames coded again
  std::deque<Task> again_;   // tasks of frames coded again, waiting
  std::deque<size_t> again_slots_;
  size_t next_segment_ = 0;    // the next segment no worker has taken
  size_t processor_turn_ = 0;  // the next segment to take a processor
  size_t joining_ = 0;         // the segment being joined
  std::deque<Reading> reading_;
  int64_t pending_key_ = -1;  // a frame that must be a key frame, waiting for its segment
  int64_t coded_ = 0;
  int64_t joined_end_ = 0;
  int running_ = 0;
  std::atomic<bool> halted_{false};
  bool over_ = false;
  std::string error_;
  std::vector<std::thread> workers_;
};

}  // namespace producer
