// Raster pool: drawing commands recorded by the main thread into runs, one run per clip
// rectangle in force (for a sheet, one cell), and run by several raster threads at once.
// A run starts only once every earlier run whose rectangle meets its own has finished, so
// each pixel sees its commands in the order they were recorded and the pixels are those
// one raster thread draws; runs whose rectangles do not meet (the cells of a sheet) are
// drawn side by side.
// Memory: a run holds at most kRunSlots slots of 32 bytes, and at most one run more than
// there are threads waits or runs while the next one is recorded; the recorder waits for
// room beyond that. Buffers of finished runs are kept for the next ones until a Drain
// frees them, so what follows a drain (a grab, saving the sheet) has that memory.
// The raster threads run a step below the recording thread's priority (see Work).
// Depends on the rasteriser, the raster queue's command format and the system module (for
// the threads' priority). State: the run being recorded, the runs handed over, and the
// threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "draw2d/soft/rasterqueue.h"

class TRasterPool {
 public:
  // Slots one run holds at most (8 MiB); a longer stretch under one clip becomes several
  // runs, drawn one after the other.
  static constexpr uint32_t kRunSlots = 262144;
  // Runs handed over beyond one per thread before the recorder waits: with one in hand, a
  // thread that finishes a run rarely finds nothing to start while the recorder is still
  // busy with the next.
  static constexpr int kRunsAhead = 1;
  // The most raster threads a pool starts.
  static constexpr int kMaxThreads = 64;

  TRasterPool() = default;
  TRasterPool(const TRasterPool&) = delete;
  TRasterPool& operator=(const TRasterPool&) = delete;
  ~TRasterPool() { Stop(); }

  // How many raster threads draw (1 .. kMaxThreads); waits for what is recorded first.
  void SetThreads(int count);
  int Threads() const { return threads_; }

  // The slot the next command is written into; Commit records it.
  TRasterCommand& Begin() {
    if (!run_ || run_->used + 1 > kRunSlots) NewRun();
    return run_->slots[run_->used].command;
  }
  void Commit() { ++run_->used; }

  // Records a command (two slots with its payload). A Target or Clip ends the run.
  void Push(const TRasterCommand& command);
  void Push(const TRasterCommand& command, const TRasterPayload& payload);

  // Hands everything recorded to the raster threads and returns at once.
  void Flush();
  // Whether everything recorded has run, without waiting.
  bool Done();
  // Hands everything recorded over, waits until it has all run and frees the buffers of
  // finished runs.
  void Drain();
  // Discards what is recorded and has not started, and waits until the threads are idle.
  void Drop();
  // Drops what is pending and ends the threads; a later command starts new ones.
  void Stop();
  // How many run buffers exist: being recorded, handed over or kept. At most
  // Threads() + kRunsAhead + 1.
  int Buffers() const { return buffers_.load(std::memory_order_relaxed); }

 private:
  union Slot {
    TRasterCommand command;
    TRasterPayload payload;
  };

  struct Run {
    explicit Run(std::atomic<int>& count) : buffers(count) { ++buffers; }
    ~Run() { --buffers; }
    std::atomic<int>& buffers;  // the pool's count
    std::unique_ptr<Slot[]> slots;
    uint32_t used = 0;
    TRasterSurface surface;  // the target and clip in force at the run's first command
    TRasterClip clip;
  };

  // Whether two runs may touch the same pixel.
  static bool Overlap(const Run& a, const Run& b);
  // Ends the run being recorded (handing it over when it holds anything) and starts one.
  void NewRun();
  // Hands the run being recorded over, if it holds anything.
  void Submit();
  void StartThreads();
  void Work();

  // Note: declared before every member that holds a run, so it outlives them all.
  std::atomic<int> buffers_{0};  // see Buffers
  // Recording thread only.
  std::unique_ptr<Run> run_;
  TRasterExecutor state_;  // target and clip as recorded so far
  int threads_ = 1;
  std::vector<std::thread> workers_;
  // Shared, under lock_.
  std::mutex lock_;
  std::condition_variable work_ready_;  // a run was handed over or finished, or stop
  std::condition_variable run_done_;    // a run finished
  std::deque<std::unique_ptr<Run>> waiting_;  // handed over, in recorded order
  std::vector<Run*> running_;
  std::vector<std::unique_ptr<Run>> spare_;  // buffers of finished runs
  bool stop_ = false;
};
