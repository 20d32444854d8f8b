// Raster queue: drawing commands recorded by the main thread into a bounded ring and
// executed in order by one raster thread, so that rasterising overlaps the main thread's
// own work (and its sleeps) the way a GPU overlaps the CPU.
// The ring holds kCapacity slots of 32 bytes (2 MiB: the commands between two facet
// boundaries of a sprite, so the recorder rarely waits) and nothing is allocated per
// command; a full ring makes the recording thread wait. Everything the commands point at
// (the target's pixels, textures) must stay alive until the commands have run: Drain is
// the point after which nothing recorded before is still pending.
// Depends on the rasteriser. State: the ring, its counters and the raster thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>  // for the ring on the heap
#include <mutex>
#include <thread>

#include "draw2d/soft/raster.h"

enum class TRasterOp : uint8_t {
  Target,            // draw into the surface in `target` from now on
  Clip,              // clip to `rect` (x0, y0, x1, y1) from now on
  Clear,             // clear the clip rectangle to rgba
  Point,             // xy[0], xy[1]
  Line,              // xy[0..3], `width`
  LineAndPoint,      // a Line, then a Point at xy[4], xy[5]
  Triangle,          // xy[0..5]
  TexturedTriangle,  // xy[0..5]; the next slot is a TRasterPayload
};

struct TRasterTargetArgs {
  uint8_t* pixels;
  int32_t pitch, width, height;
};

// One slot: the operation, the paint, and the operation's arguments.
struct TRasterCommand {
  TRasterOp op;
  TRasterBlend blend;
  uint8_t width;  // line width in whole pixels, 1 or more
  uint8_t unused;
  uint8_t rgba[4];
  union {
    float xy[6];
    int32_t rect[4];
    TRasterTargetArgs target;
  };
};

// The slot after a TexturedTriangle: its texture coordinates and texture.
struct TRasterPayload {
  float st[6];
  const TRasterTexture* texture;
};

static_assert(sizeof(TRasterCommand) == 32 && sizeof(TRasterPayload) == 32,
              "a command is one 32-byte slot");

// The raster thread's side: the target and clip in force, and the running of a command.
struct TRasterExecutor {
  TRasterSurface surface;
  TRasterClip clip;
  // Runs one command; returns the slots it used (2 with a payload).
  uint32_t Run(const TRasterCommand& command, const TRasterPayload* payload);
};

class TRasterQueue {
 public:
  static constexpr uint32_t kCapacity = 65536;

  TRasterQueue() = default;
  TRasterQueue(const TRasterQueue&) = delete;
  TRasterQueue& operator=(const TRasterQueue&) = delete;
  ~TRasterQueue() { Stop(); }

  // The slot the next command is written into (waits while the ring is full); Commit
  // records it.
  TRasterCommand& Begin() {
    Reserve(1);
    return slots_[head_ & kMask].command;
  }
  void Commit() { Advance(1); }

  // Records a command (two slots with its payload); waits while the ring is full.
  void Push(const TRasterCommand& command) {
    Reserve(1);
    slots_[head_ & kMask].command = command;
    Advance(1);
  }
  void Push(const TRasterCommand& command, const TRasterPayload& payload) {
    Reserve(2);
    slots_[head_ & kMask].command = command;
    slots_[(head_ + 1) & kMask].payload = payload;
    Advance(2);
  }

  // Hands everything recorded to the raster thread (waking it) and returns at once.
  void Flush();
  // Whether everything recorded has run, without waiting: once true, what the commands drew
  // may be read.
  bool Done() const {
    return static_cast<int32_t>(consumed_.load(std::memory_order_acquire) - head_) >= 0;
  }
  // Hands everything recorded to the raster thread and waits until it has all run.
  void Drain();
  // Discards what is recorded and has not run yet, and waits until the raster thread is
  // idle.
  void Drop();
  // Drops what is pending and ends the raster thread; a later command starts a new one.
  void Stop();

 private:
  static constexpr uint32_t kMask = kCapacity - 1;
  // Slots handed over (and taken back) at a time, so the threads rarely touch the shared
  // counters.
  static constexpr uint32_t kBatch = 128;
  // An idle raster thread is woken once this many slots wait for it (or when the recorder
  // needs everything done), and a recorder that found the ring full once half of it is
  // free: each thread then runs through a long stretch before the other has to wake it.
  static constexpr uint32_t kWakeAfter = 2048;

  union Slot {
    TRasterCommand command;
    TRasterPayload payload;
  };

  void Reserve(uint32_t count) {
    if ((head_ - free_before_) + count > kCapacity) WaitForSpace(count);
  }
  void Advance(uint32_t count) {
    head_ += count;
    if (head_ - published_head_ >= kBatch) Publish(false);
  }
  void WaitForSpace(uint32_t count);
  // Hands the recorded slots over; `all_needed` wakes an idle raster thread at once.
  void Publish(bool all_needed);
  // Waits until the raster thread has run every slot before `wanted`.
  void WaitUntilConsumed(uint32_t wanted);
  void Run();

  // Note: the 2 MiB ring lives on the heap: a queue made on a thread's stack would overflow
  // a 1 MiB one (the main thread's on Windows). It is not cleared, so its pages cost
  // nothing until commands are written into them (drawing that goes to the raster pool
  // never does).
  struct alignas(64) Ring {
    Slot slots[kCapacity];
  };
  std::unique_ptr<Ring> ring_{new Ring};
  Slot* const slots_ = ring_->slots;
  // Raster thread only (kept across a stop, so a new thread draws where the last one did).
  // Note: each thread's own state has a cache line to itself: the raster thread reads the
  // executor for every command and the recorder writes head_ for every command, and on one
  // line the two would take the line from each other's core every time.
  alignas(64) TRasterExecutor executor_;
  // Main thread only.
  alignas(64) uint32_t head_ = 0;  // slots recorded
  uint32_t published_head_ = 0;  // slots handed over
  uint32_t free_before_ = 0;     // slots known to have run (cached from consumed_)
  std::thread thread_;
  // Shared.
  alignas(64) std::atomic<uint32_t> published_{0};
  alignas(64) std::atomic<uint32_t> consumed_{0};
  std::atomic<uint32_t> discard_before_{0};
  std::atomic<bool> stop_{false};
  // Sleeping: a thread says it is about to sleep (and from where) before it looks at the
  // other thread's counter a last time under the lock, and the other thread takes the lock
  // to wake it; with sequentially consistent flags one of the two always sees the other.
  std::mutex sleep_lock_;
  std::condition_variable raster_wake_;
  std::condition_variable recorder_wake_;
  std::atomic<bool> raster_sleeping_{false};
  std::atomic<uint32_t> raster_slept_at_{0};
  std::atomic<bool> recorder_waiting_{false};
  std::atomic<uint32_t> recorder_wants_{0};  // the consumed_ the waiting recorder needs
};
