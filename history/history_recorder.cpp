#include "history/history_recorder.h"

#include <sys/stat.h>

namespace lumo {

namespace {

// How long the writer leaves a history alone that failed before it tries again.
constexpr auto kRetryPause = std::chrono::seconds(2);
// Records sent from the queue in one go (the writer looks at its inbox between batches).
constexpr size_t kQueueBatch = 200;

bool FileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

}  // namespace

std::string HistoryRecorder::QueueFileFor(const HistoryLocation& location) {
  switch (location.kind) {
    case HistoryLocation::Kind::Off:
      return "";
    case HistoryLocation::Kind::Postgres:
      return DefaultQueueFile(location.target);
    case HistoryLocation::Kind::SqliteFile: {
      const std::string& file = location.target;
      const std::string suffix = ".sqlite";
      if (file.size() > suffix.size() &&
          file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0)
        return file.substr(0, file.size() - suffix.size()) + "-queue" + suffix;
      return file + "-queue";
    }
  }
  return "";
}

HistoryRecorder::HistoryRecorder(const HistoryLocation& location, std::string queueFile)
    : location_(location), queueFile_(queueFile.empty() ? QueueFileFor(location) : queueFile) {
  if (Active()) writer_ = std::thread([this] { Run(); });
}

HistoryRecorder::~HistoryRecorder() {
  if (!writer_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  writer_.join();
}

void HistoryRecorder::Submit(HistoryRecord record) {
  if (!Active()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    inbox_.push_back(std::move(record));
    waiting_.store(static_cast<int64_t>(inbox_.size() + busy_) + queued_);
  }
  wake_.notify_all();
}

bool HistoryRecorder::Flush(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return settled_.wait_for(lock, limit, [this] { return inbox_.empty() && busy_ == 0; });
}

bool HistoryRecorder::Drain(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  nextTry_ = {};
  wake_.notify_all();
  return settled_.wait_for(
      lock, limit, [this] { return ready_ && inbox_.empty() && busy_ == 0 && queued_ == 0; });
}

std::vector<std::string> HistoryRecorder::TakeMessages() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> taken;
  taken.swap(messages_);
  return taken;
}

void HistoryRecorder::SetChangeHook(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  hook_ = std::move(hook);
}

void HistoryRecorder::Message(const std::string& text) {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (text == lastProblem_) return;
    lastProblem_ = text;
    messages_.push_back(text);
    hook = hook_;
  }
  if (hook) hook();
}

void HistoryRecorder::Pause() {
  std::lock_guard<std::mutex> lock(mutex_);
  nextTry_ = std::chrono::steady_clock::now() + kRetryPause;
}

bool HistoryRecorder::Paused() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::chrono::steady_clock::now() < nextTry_;
}

void HistoryRecorder::UpdateWaiting() {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    int64_t now = static_cast<int64_t>(inbox_.size() + busy_) + queued_;
    if (waiting_.exchange(now) != now) hook = hook_;
  }
  if (hook) hook();
}

bool HistoryRecorder::EnsureHistory() {
  if (history_ != nullptr) return true;
  if (Paused()) return false;
  std::unique_ptr<HistoryStore> store;
  HistoryStatus status = OpenHistoryStore(location_, &store);
  if (!status.Ok()) {
    Pause();
    Message(status.message);
    return false;
  }
  history_ = std::move(store);
  return true;
}

bool HistoryRecorder::EnsureQueue() {
  if (queue_ != nullptr) return true;
  if (queueFile_.empty()) return false;
  HistoryStatus status = OpenSqliteHistory(queueFile_, &queue_);
  if (!status.Ok()) {
    Message(status.message);
    return false;
  }
  int64_t count = queue_->Count();
  std::lock_guard<std::mutex> lock(mutex_);
  queued_ = count > 0 ? count : 0;
  return true;
}

void HistoryRecorder::Store(const HistoryRecord& record) {
  if (EnsureHistory()) {
    HistoryStatus status = history_->Append(record);
    if (status.Ok()) {
      ++stored_;
      std::lock_guard<std::mutex> lock(mutex_);
      lastProblem_.clear();
      return;
    }
    // The next records go straight into the queue until the pause is over.
    history_.reset();
    Pause();
    Message(status.message);
  }
  if (EnsureQueue()) {
    HistoryStatus status = queue_->Append(record);
    if (status.Ok()) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++queued_;
      return;
    }
    Message(status.message);
  }
  // Neither took it: it stays in memory and is tried again after the pause.
  std::lock_guard<std::mutex> lock(mutex_);
  inbox_.push_front(record);
  nextTry_ = std::chrono::steady_clock::now() + kRetryPause;
}

void HistoryRecorder::SendQueued() {
  if (queue_ == nullptr || !EnsureHistory()) return;
  std::vector<HistoryRecord> batch;
  HistoryFilter oldest;
  oldest.oldestFirst = true;
  oldest.limit = kQueueBatch;
  HistoryStatus status = queue_->Query(oldest, &batch);
  if (!status.Ok()) {
    // A queue that cannot be read is left alone for the pause (no loop on it).
    Pause();
    Message(status.message);
    return;
  }
  for (const HistoryRecord& record : batch) {
    status = history_->Append(record);
    if (!status.Ok()) {
      history_.reset();
      Pause();
      Message(status.message);
      break;
    }
    ++stored_;
    // Sent: out of the queue. Should this fail, the record is sent again later and the
    // history keeps the one it has.
    HistoryStatus removed = queue_->Remove(record.id);
    if (!removed.Ok()) {
      Pause();
      Message(removed.message);
      break;
    }
  }
  int64_t count = queue_->Count();
  std::lock_guard<std::mutex> lock(mutex_);
  queued_ = count > 0 ? count : 0;
  if (status.Ok()) lastProblem_.clear();
}

void HistoryRecorder::Run() {
  // Records an earlier run left in the queue are sent first.
  if (FileExists(queueFile_)) EnsureQueue();
  UpdateWaiting();
  std::unique_lock<std::mutex> lock(mutex_);
  ready_ = true;
  for (;;) {
    auto due = [this] {
      const auto now = std::chrono::steady_clock::now();
      return stop_ || (!inbox_.empty() && now >= nextTry_) || (queued_ > 0 && now >= nextTry_);
    };
    if (!due()) {
      if (!inbox_.empty() || queued_ > 0) {
        wake_.wait_until(lock, nextTry_);
      } else {
        wake_.wait(lock);
      }
      continue;
    }
    if (stop_ && (inbox_.empty() || std::chrono::steady_clock::now() < nextTry_)) break;
    std::deque<HistoryRecord> taken;
    taken.swap(inbox_);
    busy_ = taken.size();
    lock.unlock();
    while (!taken.empty()) {
      Store(taken.front());
      taken.pop_front();
      std::lock_guard<std::mutex> inner(mutex_);
      --busy_;
    }
    if (!Paused()) SendQueued();
    UpdateWaiting();
    lock.lock();
    settled_.notify_all();
  }
  settled_.notify_all();
}

}  // namespace lumo
