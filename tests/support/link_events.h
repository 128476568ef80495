// For tests that run a link against a simulated device: a notification sink that keeps every
// notification in order, and waits with a deadline (never a fixed sleep) for one to arrive or
// for a state to be reached. The limits are generous for a loaded machine; a wait ends as soon as
// what it waits for is there.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/dut_link.h"

namespace lumo::test {

constexpr std::chrono::milliseconds kLinkWait{30000};

// Calls condition every few milliseconds until it holds (true) or the limit has passed (false).
// For state that announces no change (the link's mode, a simulated device's counters); what comes
// as a notification is waited for with LinkEvents::WaitFor, which ends on its arrival.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = kLinkWait) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Whether the bytes (what a simulated device received) hold the needle.
inline bool Contains(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& needle) {
  return std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end()) != bytes.end();
}
inline bool ContainsText(const std::vector<uint8_t>& bytes, const std::string& needle) {
  return std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end()) != bytes.end();
}

// Every notification of a link, in the order posted; indexes count from the first. Notified on
// the link thread, read on the test's.
class LinkEvents : public NotificationSink {
 public:
  void Notify(LinkEvent event) override {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    changed_.notify_all();
  }

  // The number so far: the index the next notification gets.
  size_t Mark() {
    std::lock_guard lock(mutex_);
    return events_.size();
  }

  // The first notification at or after index from with one of the codes (a copy, with its
  // block); code -1 when none came within the limit.
  LinkEvent WaitFor(std::initializer_list<int32_t> codes, size_t from = 0,
                    std::chrono::milliseconds limit = kLinkWait) {
    std::unique_lock lock(mutex_);
    LinkEvent found;
    found.code = -1;
    changed_.wait_for(lock, limit, [&] {
      for (size_t i = from; i < events_.size(); ++i) {
        if (std::find(codes.begin(), codes.end(), events_[i].code) == codes.end()) continue;
        found.code = events_[i].code;
        found.value = events_[i].value;
        if (events_[i].block)
          found.block = std::make_unique<std::vector<uint8_t>>(*events_[i].block);
        return true;
      }
      return false;
    });
    return found;
  }

  // Whether a notification with the code came at or after index from within the limit.
  bool Saw(int32_t code, size_t from = 0, std::chrono::milliseconds limit = kLinkWait) {
    return WaitFor({code}, from, limit).code == code;
  }

  // How many with the code came at or after index from.
  int Count(int32_t code, size_t from = 0) {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (size_t i = from; i < events_.size(); ++i) count += events_[i].code == code ? 1 : 0;
    return count;
  }

  // The codes from index from on, without the progress reports (DN_PROGRESS).
  std::vector<int32_t> Codes(size_t from = 0) {
    std::lock_guard lock(mutex_);
    std::vector<int32_t> codes;
    for (size_t i = from; i < events_.size(); ++i) {
      if (events_[i].code != DN_PROGRESS) codes.push_back(events_[i].code);
    }
    return codes;
  }

  // The values of the notifications with the code, from index from on.
  std::vector<int32_t> Values(int32_t code, size_t from = 0) {
    std::lock_guard lock(mutex_);
    std::vector<int32_t> values;
    for (size_t i = from; i < events_.size(); ++i) {
      if (events_[i].code == code) values.push_back(events_[i].value);
    }
    return values;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<LinkEvent> events_;
};

}  // namespace lumo::test
