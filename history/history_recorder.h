// The recorder: takes a finished job's record and stores it on its own thread, so that no job
// and no link ever waits for a database.
//
// State model. Records handed to Submit sit in the recorder's inbox (memory, under one mutex)
// until the writer thread has stored them in the history, or, when that fails (a server that
// cannot be reached, a locked database, a full disk), in the local queue: a SQLite file of the
// same schema. Records in the queue are sent, oldest first, whenever the history can be reached
// again (at start, with every new record, and every few seconds while any wait), each removed
// from the queue only after the history holds it; since the record id is the key, a record sent
// twice is stored once. A record neither the history nor the queue would take stays in the
// inbox and is tried again. Waiting() counts what is not yet in the history.
//
// Threads: Submit, Flush, Waiting and TakeMessages may be called from any thread; only the
// writer thread touches the databases. The change hook is called on the writer thread.
//
//   HistoryRecorder(location, queue)  start the writer (nothing for a location that is off)
//   Submit        hand over a record; returns at once
//   Flush         wait until every submitted record is in the history or the queue
//   Waiting       records not yet in the history (inbox and queue)
//   TakeMessages  what went wrong since the last call, for the front end to show
//   SetChangeHook called after each change of Waiting() or a new message
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "history/history_store.h"

namespace lumo {

class HistoryRecorder {
 public:
  // queueFile "" takes the default: DefaultQueueFile(uri) for a server, the file's name with
  // "-queue" before ".sqlite" for a SQLite history.
  explicit HistoryRecorder(const HistoryLocation& location, std::string queueFile = "");
  ~HistoryRecorder();
  HistoryRecorder(const HistoryRecorder&) = delete;
  HistoryRecorder& operator=(const HistoryRecorder&) = delete;

  bool Active() const { return location_.kind != HistoryLocation::Kind::Off; }
  void Submit(HistoryRecord record);
  // True when the inbox is empty (every record stored or queued) within the limit.
  bool Flush(std::chrono::milliseconds limit);
  // Waits until nothing waits at all (also the queue sent), up to the limit; for tests and the
  // end of a command that wants to see its records arrive.
  bool Drain(std::chrono::milliseconds limit);
  int64_t Waiting() const { return waiting_.load(); }
  int64_t Stored() const { return stored_.load(); }
  std::vector<std::string> TakeMessages();
  void SetChangeHook(std::function<void()> hook);
  // For messages: where the records go (password masked).
  std::string Describe() const { return MaskedLocation(location_.target); }

  static std::string QueueFileFor(const HistoryLocation& location);

 private:
  void Run();
  void Step(std::unique_lock<std::mutex>& lock);
  bool EnsureHistory();
  bool EnsureQueue();
  void SendQueued();
  void Store(const HistoryRecord& record);
  void Message(const std::string& text);
  void UpdateWaiting();
  void Pause();  // leave the history alone for kRetryPause
  bool Paused() const;

  const HistoryLocation location_;
  const std::string queueFile_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;     // the writer: a record or a stop
  std::condition_variable settled_;  // Flush/Drain: the inbox or the queue changed
  std::deque<HistoryRecord> inbox_;
  size_t busy_ = 0;  // records taken out of the inbox and not yet stored or queued
  std::vector<std::string> messages_;
  std::function<void()> hook_;
  bool stop_ = false;
  bool ready_ = false;  // the writer has looked into the queue an earlier run left

  // Writer thread only.
  std::unique_ptr<HistoryStore> history_;
  std::unique_ptr<HistoryStore> queue_;
  int64_t queued_ = 0;
  std::string lastProblem_;  // said once until it changes or the history answers again
  std::chrono::steady_clock::time_point nextTry_{};  // under mutex_

  std::atomic<int64_t> waiting_{0};
  std::atomic<int64_t> stored_{0};
  std::thread writer_;
};

}  // namespace lumo
