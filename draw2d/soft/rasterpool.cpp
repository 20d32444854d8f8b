// Raster pool. The recorder fills a run, hands it over under the lock and starts the next;
// a raster thread takes the first waiting run that meets no earlier unfinished run, draws
// it without the lock and gives its buffer back. Everything the threads share is kept
// under one lock, taken once per run.
#include "draw2d/soft/rasterpool.h"

#include <algorithm>  // for std::find, std::min, std::max

#include "graphics/system.h"  // for LowerThreadPriority

void TRasterPool::SetThreads(int count) {
  Drain();
  count = std::max(1, std::min(count, kMaxThreads));
  if (count == threads_) return;
  Stop();
  threads_ = count;
}

bool TRasterPool::Overlap(const Run& a, const Run& b) {
  // Note: runs drawn into different surfaces are kept in order too; a context switch drains
  // the pool anyway.
  if (a.surface.pixels != b.surface.pixels) return true;
  return std::max(a.clip.x0, b.clip.x0) < std::min(a.clip.x1, b.clip.x1) &&
         std::max(a.clip.y0, b.clip.y0) < std::min(a.clip.y1, b.clip.y1);
}

void TRasterPool::Push(const TRasterCommand& command) {
  if (command.op == TRasterOp::Target || command.op == TRasterOp::Clip) {
    // The target and clip are a run's starting state, not commands of it.
    Submit();
    state_.Run(command, nullptr);
    if (run_) {  // an empty run starts from the new state
      run_->surface = state_.surface;
      run_->clip = state_.clip;
    }
    return;
  }
  Begin() = command;
  Commit();
}

void TRasterPool::Push(const TRasterCommand& command, const TRasterPayload& payload) {
  if (!run_ || run_->used + 2 > kRunSlots) NewRun();
  run_->slots[run_->used].command = command;
  run_->slots[run_->used + 1].payload = payload;
  run_->used += 2;
}

void TRasterPool::NewRun() {
  Submit();
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!spare_.empty()) {
      run_ = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  if (!run_) {
    run_ = std::make_unique<Run>(buffers_);
    // Note: not value-initialised; pages of the buffer cost nothing until written.
    run_->slots.reset(new Slot[kRunSlots]);
  }
  run_->used = 0;
  run_->surface = state_.surface;
  run_->clip = state_.clip;
}

void TRasterPool::Submit() {
  if (!run_ || run_->used == 0) return;
  if (workers_.empty()) StartThreads();
  std::unique_lock<std::mutex> guard(lock_);
  // Note: at most one run per thread (and kRunsAhead more) waits or runs, so memory stays
  // bounded while the recorder goes on with the next one.
  run_done_.wait(guard, [&] {
    return waiting_.size() + running_.size() < static_cast<size_t>(threads_ + kRunsAhead);
  });
  waiting_.push_back(std::move(run_));
  work_ready_.notify_one();
}

void TRasterPool::Flush() { Submit(); }

bool TRasterPool::Done() {
  if (run_ && run_->used != 0) return false;
  std::lock_guard<std::mutex> guard(lock_);
  return waiting_.empty() && running_.empty();
}

void TRasterPool::Drain() {
  Submit();
  std::unique_lock<std::mutex> guard(lock_);
  run_done_.wait(guard, [&] { return waiting_.empty() && running_.empty(); });
  spare_.clear();
}

void TRasterPool::Drop() {
  if (run_) run_->used = 0;
  std::unique_lock<std::mutex> guard(lock_);
  for (auto& run : waiting_) spare_.push_back(std::move(run));
  waiting_.clear();
  run_done_.wait(guard, [&] { return running_.empty(); });
}

void TRasterPool::Stop() {
  if (workers_.empty()) return;
  Drop();
  {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
    work_ready_.notify_all();
  }
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
  stop_ = false;
}

void TRasterPool::StartThreads() {
  for (int i = 0; i < threads_; ++i) workers_.emplace_back([this] { Work(); });
}

void TRasterPool::Work() {
  // Note: the recording thread is what every raster thread waits for; where it shares a
  // processor with one, it goes first.
  LowerThreadPriority();
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    // The first waiting run that meets neither a running run nor an earlier waiting one.
    auto ready = waiting_.end();
    for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
      bool blocked = false;
      for (const Run* running : running_) blocked = blocked || Overlap(**it, *running);
      for (auto earlier = waiting_.begin(); !blocked && earlier != it; ++earlier) {
        blocked = Overlap(**it, **earlier);
      }
      if (!blocked) {
        ready = it;
        break;
      }
    }
    if (ready == waiting_.end()) {
      if (stop_) return;
      work_ready_.wait(guard);
      continue;
    }
    std::unique_ptr<Run> run = std::move(*ready);
    waiting_.erase(ready);
    running_.push_back(run.get());
    guard.unlock();

    TRasterExecutor executor;
    executor.surface = run->surface;
    executor.clip = run->clip;
    for (uint32_t at = 0; at < run->used;) {
      const TRasterCommand& command = run->slots[at].command;
      const TRasterPayload* payload =
          command.op == TRasterOp::TexturedTriangle ? &run->slots[at + 1].payload : nullptr;
      at += executor.Run(command, payload);
    }

    guard.lock();
    running_.erase(std::find(running_.begin(), running_.end(), run.get()));
    // Note: as many buffers as may be handed over, and one for the recorder, are worth
    // keeping.
    if (spare_.size() <= static_cast<size_t>(threads_ + kRunsAhead)) {
      spare_.push_back(std::move(run));
    }
    run_done_.notify_all();
    // A finished run may unblock a waiting one for another thread.
    if (!waiting_.empty()) work_ready_.notify_all();
  }
}
