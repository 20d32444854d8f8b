// Raster queue. The recording thread fills slots and hands them over in batches by moving
// `published_`; the raster thread runs them and hands the slots back by moving
// `consumed_`. Both counters only grow (modulo 2^32). A thread that runs out of work (the
// raster thread) or of room (the recorder) sleeps on a condition variable, and the other
// thread wakes it once there is enough to do.
#include "draw2d/soft/rasterqueue.h"

uint32_t TRasterExecutor::Run(const TRasterCommand& command, const TRasterPayload* payload) {
    TRasterPaint paint;
    for (int i = 0; i < 4; ++i) paint.rgba[i] = command.rgba[i];
    paint.blend = command.blend;
    switch (command.op) {
      case TRasterOp::Target:
        surface = {command.target.pixels, command.target.pitch, command.target.width,
                   command.target.height};
        clip = ClipToSurface(surface, 0, 0, surface.width, surface.height);
        return 1;
      case TRasterOp::Clip:
        clip = {command.rect[0], command.rect[1], command.rect[2], command.rect[3]};
        return 1;
      case TRasterOp::Clear:
        RasterClear(surface, clip, command.rgba);
        return 1;
      case TRasterOp::Point:
        RasterPoint(surface, clip, paint, command.xy[0], command.xy[1]);
        return 1;
      case TRasterOp::Line:
        RasterLine(surface, clip, paint, command.xy[0], command.xy[1], command.xy[2],
                   command.xy[3], command.width);
        return 1;
      case TRasterOp::LineAndPoint:
        RasterLine(surface, clip, paint, command.xy[0], command.xy[1], command.xy[2],
                   command.xy[3], command.width);
        RasterPoint(surface, clip, paint, command.xy[4], command.xy[5]);
        return 1;
      case TRasterOp::Triangle:
        RasterTriangle(surface, clip, paint, command.xy);
        return 1;
      case TRasterOp::TexturedTriangle:
        RasterTexturedTriangle(surface, clip, paint, command.xy, payload->st,
                               *payload->texture);
        return 2;
    }
    return 1;
}

void TRasterQueue::WaitForSpace(uint32_t count) {
  Publish(true);
  // Note: waiting for half the ring rather than for `count` slots lets each thread run
  // through a long stretch before the other one has to wake it again.
  WaitUntilConsumed(head_ + count - kCapacity / 2);
}

void TRasterQueue::Publish(bool all_needed) {
  if (!thread_.joinable()) {
    stop_.store(false);
    thread_ = std::thread([this] { Run(); });
  }
  published_head_ = head_;
  published_.store(head_, std::memory_order_seq_cst);
  if (raster_sleeping_.load(std::memory_order_seq_cst) &&
      (all_needed ||
       head_ - raster_slept_at_.load(std::memory_order_relaxed) >= kWakeAfter)) {
    std::lock_guard<std::mutex> lock(sleep_lock_);
    raster_wake_.notify_one();
  }
}

void TRasterQueue::WaitUntilConsumed(uint32_t wanted) {
  free_before_ = consumed_.load(std::memory_order_acquire);
  if (static_cast<int32_t>(free_before_ - wanted) >= 0) return;
  std::unique_lock<std::mutex> lock(sleep_lock_);
  recorder_wants_.store(wanted, std::memory_order_seq_cst);
  recorder_waiting_.store(true, std::memory_order_seq_cst);
  recorder_wake_.wait(lock, [&] {
    free_before_ = consumed_.load(std::memory_order_seq_cst);
    return static_cast<int32_t>(free_before_ - wanted) >= 0;
  });
  recorder_waiting_.store(false, std::memory_order_relaxed);
}

void TRasterQueue::Flush() {
  if (head_ == free_before_) return;  // nothing recorded since the last drain
  Publish(true);
}

void TRasterQueue::Drain() {
  if (head_ == free_before_) return;  // nothing recorded since the last drain
  Publish(true);
  WaitUntilConsumed(head_);
}

void TRasterQueue::Drop() {
  if (head_ == free_before_) return;
  discard_before_.store(head_, std::memory_order_seq_cst);
  Publish(true);
  WaitUntilConsumed(head_);
}

void TRasterQueue::Stop() {
  if (!thread_.joinable()) return;
  Drop();
  {
    std::lock_guard<std::mutex> lock(sleep_lock_);
    stop_.store(true, std::memory_order_seq_cst);
    raster_wake_.notify_one();
  }
  thread_.join();
}

void TRasterQueue::Run() {
  TRasterExecutor& executor = executor_;
  uint32_t tail = consumed_.load(std::memory_order_relaxed);
  for (;;) {
    uint32_t available = published_.load(std::memory_order_acquire);
    if (available == tail) {
      std::unique_lock<std::mutex> lock(sleep_lock_);
      raster_slept_at_.store(tail, std::memory_order_relaxed);
      raster_sleeping_.store(true, std::memory_order_seq_cst);
      raster_wake_.wait(lock, [&] {
        return published_.load(std::memory_order_seq_cst) != tail ||
               stop_.load(std::memory_order_seq_cst);
      });
      raster_sleeping_.store(false, std::memory_order_relaxed);
      if (published_.load(std::memory_order_acquire) == tail) return;  // stopped
      continue;
    }
    while (tail != available) {
      // Note: dropped commands are skipped, but a Target or Clip among them still counts,
      // so the next command draws where it was recorded to draw.
      const bool dropped =
          static_cast<int32_t>(discard_before_.load(std::memory_order_relaxed) - tail) > 0;
      const TRasterCommand& command = slots_[tail & kMask].command;
      uint32_t used = 1;
      if (!dropped || command.op == TRasterOp::Target || command.op == TRasterOp::Clip) {
        const TRasterPayload* payload = command.op == TRasterOp::TexturedTriangle
                                            ? &slots_[(tail + 1) & kMask].payload
                                            : nullptr;
        used = executor.Run(command, payload);
      } else if (command.op == TRasterOp::TexturedTriangle) {
        used = 2;
      }
      const uint32_t before = tail;
      tail += used;
      // Slots go back a batch at a time, and all of them when the work runs out.
      if (tail / kBatch != before / kBatch || tail == available) {
        consumed_.store(tail, std::memory_order_seq_cst);
        if (recorder_waiting_.load(std::memory_order_seq_cst) &&
            static_cast<int32_t>(tail - recorder_wants_.load(std::memory_order_seq_cst)) >= 0) {
          std::lock_guard<std::mutex> lock(sleep_lock_);
          recorder_wake_.notify_one();
        }
      }
    }
  }
}
