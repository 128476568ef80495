#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "sim/device_line.h"
#include "sim/pty_baud.h"

namespace lumo::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kHangUpPollMs = 20;      // how often a closed pty is looked at (it never blocks)
constexpr int kReadSliceMs = 50;       // longest single poll, so that Close() is seen promptly
constexpr double kBitsPerChar = 10.0;  // a pty is always 8 data bits, no parity
// A pty has no DTR: the supply counts as switched on this long after the program opened the
// terminal, as the link switches it on a second after opening the port.
constexpr auto kSupplyAfterOpen = std::chrono::milliseconds(1000);

}  // namespace

class PtyLine : public DeviceLine {
 public:
  PtyLine(int master, bool echo, bool pace) : master_(master), echo_(echo), pace_(pace) {}
  ~PtyLine() override { ::close(master_); }

  bool WaitPowerOn(uint64_t& epoch) override {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!closed_) {
      const bool open = !HungUp();
      if (!open) {
        openedAt_.reset();
      } else if (!openedAt_) {
        openedAt_ = Clock::now();
      }
      if (supply_ && open && Clock::now() - *openedAt_ >= kSupplyAfterOpen) {
        // What the program sent while the device had no supply reached nobody.
        ::tcflush(master_, TCIFLUSH);
        powered_ = true;
        epoch = ++epoch_;
        return true;
      }
      // An interface with a loop-back returns the program's bytes whether or not the device
      // behind it is supplied.
      if (echo_ && open) EchoUnsupplied();
      closing_.wait_for(lock, std::chrono::milliseconds(kHangUpPollMs));
    }
    return false;
  }

  LineRead ReadByte(uint64_t epoch, uint8_t& byte, int timeoutMs) override {
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    while (true) {
      if (closed_) return LineRead::Closed;
      if (!supply_) powered_ = false;
      if (!powered_ || epoch != epoch_) return LineRead::PowerLost;
      int slice = kReadSliceMs;
      if (timeoutMs >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        slice = static_cast<int>(std::clamp<int64_t>(left.count(), 0, kReadSliceMs));
      }
      pollfd pfd{master_, POLLIN, 0};
      int r = ::poll(&pfd, 1, slice);
      if (r < 0 && errno != EINTR) return PowerDown();
      if (r > 0 && (pfd.revents & (POLLHUP | POLLERR))) return PowerDown();
      if (r > 0 && (pfd.revents & POLLIN)) {
        ssize_t got = ::read(master_, &byte, 1);
        if (got == 1) {
          // The program's bytes reach the device one character time after another.
          if (pace_) {
            nextReceive_ = std::max(Clock::now(), nextReceive_) + CharTime();
            std::this_thread::sleep_until(nextReceive_);
          }
          if (echo_) WriteAll(&byte, 1);
          return LineRead::Byte;
        }
        if (got < 0 && errno != EAGAIN && errno != EINTR) return PowerDown();
      }
      if (timeoutMs >= 0 && Clock::now() >= deadline) return LineRead::Timeout;
    }
  }

  void Write(uint64_t epoch, const uint8_t* data, size_t n) override {
    if (!supply_ || !powered_ || epoch != epoch_) return;
    if (!pace_) {
      WriteAll(data, n);
      return;
    }
    const auto charTime = CharTime();
    for (size_t i = 0; i < n && !closed_; ++i) {
      nextSend_ = std::max(Clock::now(), nextSend_) + charTime;
      std::this_thread::sleep_until(nextSend_);
      if (!WriteAll(data + i, 1)) return;
    }
  }

  uint32_t BaudRate() override { return TerminalBaudRate(master_); }

  // Any thread: the device's supply as the interface switches it (the pty stays open).
  void SetSupply(bool on) {
    supply_.store(on);
    closing_.notify_all();
  }

  void Close() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    }
    closing_.notify_all();
  }

 private:
  Clock::duration CharTime() {
    const uint32_t baud = std::max<uint32_t>(BaudRate(), 1);
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(kBitsPerChar / baud));
  }

  bool HungUp() const {
    pollfd pfd{master_, POLLIN, 0};
    return ::poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLHUP);
  }

  // Returns what the program sent while no device listens (the interface's own echo).
  void EchoUnsupplied() {
    uint8_t buffer[256];
    for (;;) {
      ssize_t got = ::read(master_, buffer, sizeof buffer);
      if (got <= 0) return;
      WriteAll(buffer, static_cast<size_t>(got));
    }
  }

  LineRead PowerDown() {
    powered_ = false;
    ::tcflush(master_, TCIOFLUSH);  // what the program left unread goes with it
    return LineRead::PowerLost;
  }

  bool WriteAll(const uint8_t* data, size_t n) {
    size_t done = 0;
    while (done < n && !closed_) {
      ssize_t r = ::write(master_, data + done, n - done);
      if (r > 0) {
        done += static_cast<size_t>(r);
        continue;
      }
      if (r < 0 && errno != EAGAIN && errno != EINTR) return false;
      pollfd pfd{master_, POLLOUT, 0};
      if (::poll(&pfd, 1, kReadSliceMs) > 0 && (pfd.revents & POLLHUP)) return false;
    }
    return done == n;
  }

  const int master_;
  const bool echo_, pace_;
  std::mutex mutex_;
  std::condition_variable closing_;
  std::atomic<bool> closed_{false};
  std::atomic<bool> supply_{true};
  // Device thread only.
  bool powered_ = false;
  uint64_t epoch_ = 0;
  Clock::time_point nextSend_{}, nextReceive_{};
  std::optional<Clock::time_point> openedAt_;  // since when the program holds the terminal open
};

PtyServer::~PtyServer() {
  Stop();
}

bool PtyServer::Open(bool echo, bool pace, int& err) {
  Stop();
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) {
    err = errno;
    return false;
  }
  auto fail = [&] {
    err = errno;
    ::close(master);
    return false;
  };
  char name[128];
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
      ::ptsname_r(master, name, sizeof name) != 0)
    return fail();
  termios raw{};
  if (::tcgetattr(master, &raw) != 0) return fail();
  ::cfmakeraw(&raw);
  if (::tcsetattr(master, TCSANOW, &raw) != 0) return fail();
  // Open and close the slave once, so that POLLHUP tells from now on whether it is open.
  int slave = ::open(name, O_RDWR | O_NOCTTY);
  if (slave < 0) return fail();
  ::close(slave);
  int flags = ::fcntl(master, F_GETFL);
  if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) return fail();
  slavePath_ = name;
  line_ = std::make_shared<PtyLine>(master, echo, pace);
  err = 0;
  return true;
}

void PtyServer::Start(std::shared_ptr<SimDevice> device) {
  if (!line_ || !device) return;
  device_ = std::move(device);
  device_->Attach(line_);
}

void PtyServer::SetSupply(bool on) {
  if (line_) line_->SetSupply(on);
}

void PtyServer::Stop() {
  if (device_) device_->Detach();
  device_.reset();
  line_.reset();
}

}  // namespace lumo::sim
