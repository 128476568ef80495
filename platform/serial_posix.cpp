// A tty device file as a serial driver: real UARTs, USB adapters and pseudo-terminals.
//
// The line is set through termios2 (TCGETS2/TCSETS2), so every baud rate the kernel accepts is
// reachable with BOTHER, not only the rates of the classic table. The descriptor stays
// non-blocking; every wait is a poll() on the device and on an eventfd that Wake() signals.
// Modem-line and counter ioctls a device lacks (a pty has none) answer ENOTTY.
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>

#include "platform/device_lock.h"
#include "platform/port_provider.h"
#include "platform/serial_driver.h"

namespace lumo {
namespace {

// The baud rates a line can be given; 0 would mean "hang up" to the tty layer.
constexpr uint32_t kMinBaudRate = 50;
constexpr uint32_t kMaxBaudRate = 4000000;

// Unix98 pty slaves use the majors 136 to 143; a pty forces CS8 and no parity.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

// How often a drain asks the driver how many bytes are still to go out.
constexpr int kDrainPollMs = 1;

using Clock = std::chrono::steady_clock;

// The rates of the classic table keep their own code, so that every reader of the line settings
// understands them; any other rate goes as BOTHER with the number itself.
// rate, code
struct BaudRow {
  uint32_t rate;
  tcflag_t code;
};
constexpr BaudRow kBaudTable[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000}};

tcflag_t BaudCode(uint32_t rate) {
  for (const auto& row : kBaudTable) {
    if (row.rate == rate) return row.code;
  }
  return BOTHER;
}

// Milliseconds left until deadline, rounded up so that a wait never ends early.
int RemainingMs(Clock::time_point deadline) {
  auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

int Ioctl(int fd, unsigned long request, void* arg) {
  int rc;
  do {
    rc = ::ioctl(fd, request, arg);
  } while (rc < 0 && errno == EINTR);
  return rc < 0 ? errno : 0;
}

int IoctlValue(int fd, unsigned long request, long value) {
  int rc;
  do {
    rc = ::ioctl(fd, request, value);
  } while (rc < 0 && errno == EINTR);
  return rc < 0 ? errno : 0;
}

// Modem-line and counter ioctls that a device does not implement may answer EINVAL as well.
int NotSupportedAsEnotty(int err) {
  return err == EINVAL ? ENOTTY : err;
}

class PosixSerial : public SerialDriver {
 public:
  PosixSerial(int fd, int wakeFd, bool pty, const termios2& saved,
              std::unique_ptr<DeviceLockFile> lockFile)
      : fd_(fd), wakeFd_(wakeFd), pty_(pty), saved_(saved), lockFile_(std::move(lockFile)) {}

  // The lock file goes last, once the device is no longer ours.
  ~PosixSerial() override {
    ::ioctl(fd_, TCSETS2, &saved_);
    ::ioctl(fd_, TIOCNXCL);
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    ::close(wakeFd_);
  }

  PosixSerial(const PosixSerial&) = delete;
  PosixSerial& operator=(const PosixSerial&) = delete;

  int GetLine(DriverLine& line) override {
    termios2 tio{};
    if (int err = Ioctl(fd_, TCGETS2, &tio)) return err;
    line.baudRate = tio.c_ospeed;
    switch (tio.c_cflag & CSIZE) {
      case CS5:
        line.dataBits = 5;
        break;
      case CS6:
        line.dataBits = 6;
        break;
      case CS7:
        line.dataBits = 7;
        break;
      default:
        line.dataBits = 8;
        break;
    }
    line.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
    if (!(tio.c_cflag & PARENB)) {
      line.parity = 0;
    } else if (tio.c_cflag & CMSPAR) {
      line.parity = (tio.c_cflag & PARODD) ? 3 : 4;
    } else {
      line.parity = (tio.c_cflag & PARODD) ? 1 : 2;
    }
    line.parityCheck = (tio.c_iflag & INPCK) != 0;
    return 0;
  }

  int SetLine(const DriverLine& line) override {
    if (line.baudRate < kMinBaudRate || line.baudRate > kMaxBaudRate) return EINVAL;
    if (line.dataBits < 5 || line.dataBits > 8) return EINVAL;
    if (line.stopBits > 2 || line.parity > 4) return EINVAL;
    termios2 tio{};
    if (int err = Ioctl(fd_, TCGETS2, &tio)) return err;
    MakeRaw(tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    tio.c_cflag |= DataBitsFlag(line.dataBits);
    // One and a half stop bits are not expressible here; POSIX allows two in their place.
    if (line.stopBits != 0) tio.c_cflag |= CSTOPB;
    tio.c_cflag |= ParityFlags(line.parity);
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF | IXANY);
    if (line.parityCheck) tio.c_iflag |= INPCK;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    const tcflag_t code = BaudCode(line.baudRate);
    tio.c_cflag |= code | (code << IBSHIFT);
    tio.c_ospeed = line.baudRate;
    tio.c_ispeed = line.baudRate;
    if (int err = Ioctl(fd_, TCSETS2, &tio)) return err;

    // Read back: a driver that cannot do the character size or parity changes them silently.
    termios2 back{};
    if (int err = Ioctl(fd_, TCGETS2, &back)) return err;
    if (back.c_ospeed == 0) return EINVAL;
    const tcflag_t frame = CSIZE | PARENB | PARODD | CMSPAR;
    if (!pty_ && (back.c_cflag & frame) != (tio.c_cflag & frame)) return EINVAL;
    return 0;
  }

  int GetModes(LineMode& dtr, LineMode& rts) override {
    int bits = 0;
    int err = NotSupportedAsEnotty(Ioctl(fd_, TIOCMGET, &bits));
    if (err == 0) {
      dtrOn_ = (bits & TIOCM_DTR) != 0;
      rtsOn_ = (bits & TIOCM_RTS) != 0;
    } else if (err != ENOTTY) {
      return err;
    }
    termios2 tio{};
    if (int e = Ioctl(fd_, TCGETS2, &tio)) return e;
    dtr = dtrOn_ ? LineMode::Enabled : LineMode::Disabled;
    rts = (tio.c_cflag & CRTSCTS) ? LineMode::Handshake
                                  : (rtsOn_ ? LineMode::Enabled : LineMode::Disabled);
    return 0;
  }

  int SetDtr(bool on) override {
    int bit = TIOCM_DTR;
    int err = NotSupportedAsEnotty(Ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit));
    if (err == 0 || err == ENOTTY) dtrOn_ = on;
    return err;
  }

  int SetRts(bool on) override {
    int bit = TIOCM_RTS;
    int err = NotSupportedAsEnotty(Ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit));
    if (err == 0 || err == ENOTTY) rtsOn_ = on;
    return err;
  }

  int SetBreak(bool on) override {
    return NotSupportedAsEnotty(IoctlValue(fd_, on ? TIOCSBRK : TIOCCBRK, 0));
  }

  int GetErrorCounts(LineErrorCounts& counts) override {
    serial_icounter_struct ic{};
    if (int err = NotSupportedAsEnotty(Ioctl(fd_, TIOCGICOUNT, &ic))) return err;
    counts.frame = static_cast<uint32_t>(ic.frame);
    counts.parity = static_cast<uint32_t>(ic.parity);
    counts.brk = static_cast<uint32_t>(ic.brk);
    counts.overrun = static_cast<uint32_t>(ic.overrun);
    counts.bufOverrun = static_cast<uint32_t>(ic.buf_overrun);
    return 0;
  }

  int InQueue(int& count) override {
    count = 0;
    int waiting = 0;
    if (int err = Ioctl(fd_, FIONREAD, &waiting)) return err;
    if (waiting == 0 && HungUp()) return EIO;
    count = waiting;
    return 0;
  }

  int Purge() override { return IoctlValue(fd_, TCFLSH, TCIFLUSH); }

  int WaitReadable(int timeoutMs, bool& ready, bool& woken) override {
    ready = false;
    woken = false;
    const bool unlimited = timeoutMs < 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeoutMs);
    for (;;) {
      pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
      int rc = ::poll(fds, 2, unlimited ? -1 : RemainingMs(deadline));
      if (rc < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      if (fds[1].revents & POLLIN) {
        uint64_t drained;
        while (::read(wakeFd_, &drained, sizeof drained) < 0 && errno == EINTR) {
        }
        woken = true;
        return 0;
      }
      if (fds[0].revents & POLLIN) {
        ready = true;
        return 0;
      }
      if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return EIO;
      if (rc == 0) return 0;
    }
  }

  int ReadSome(uint8_t* buffer, size_t n, size_t& got) override {
    got = 0;
    if (n == 0) return 0;
    for (;;) {
      ssize_t rc = ::read(fd_, buffer, n);
      if (rc > 0) {
        got = static_cast<size_t>(rc);
        return 0;
      }
      if (rc == 0) return EIO;  // end of file on a tty: the other side is gone
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return HungUp() ? EIO : 0;
      return errno;
    }
  }

  int Write(const uint8_t* data, size_t n, size_t& written, int timeoutMs) override {
    written = 0;
    const bool unlimited = timeoutMs < 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeoutMs);
    while (written < n) {
      ssize_t rc = ::write(fd_, data + written, n - written);
      if (rc > 0) {
        written += static_cast<size_t>(rc);
        continue;
      }
      if (rc < 0 && errno == EINTR) continue;
      if (rc < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
      int waitMs = unlimited ? -1 : RemainingMs(deadline);
      if (waitMs == 0) return 0;
      pollfd pfd{fd_, POLLOUT, 0};
      int prc = ::poll(&pfd, 1, waitMs);
      if (prc < 0 && errno != EINTR) return errno;
      if (prc > 0 && !(pfd.revents & POLLOUT) && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
        return EIO;
    }
    return 0;
  }

  // TIOCOUTQ polled rather than tcdrain: tcdrain has no time limit, and an adapter that stops
  // sending (unplugged, flow-controlled) would hold the link thread for good.
  int Drain(int timeoutMs) override {
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
      int pending = 0;
      if (int err = Ioctl(fd_, TIOCOUTQ, &pending)) return err == ENOTTY || err == EINVAL ? 0 : err;
      if (pending <= 0 || Clock::now() >= deadline) return 0;
      pollfd none{-1, 0, 0};
      ::poll(&none, 1, kDrainPollMs);
    }
  }

  void Wake() override {
    uint64_t one = 1;
    while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }

 private:
  static void MakeRaw(termios2& tio) {
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF | IXANY | IMAXBEL | IUCLC);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;  // with O_NONBLOCK: no data is EAGAIN, end of file means hang-up
    tio.c_cc[VTIME] = 0;
  }

  static tcflag_t DataBitsFlag(uint8_t bits) {
    switch (bits) {
      case 5:
        return CS5;
      case 6:
        return CS6;
      case 7:
        return CS7;
      default:
        return CS8;
    }
  }

  static tcflag_t ParityFlags(uint8_t parity) {
    switch (parity) {
      case 1:
        return PARENB | PARODD;
      case 2:
        return PARENB;
      case 3:
        return PARENB | CMSPAR | PARODD;
      case 4:
        return PARENB | CMSPAR;
      default:
        return 0;
    }
  }

  // True when the device reports a hang-up or error and has nothing left to read.
  bool HungUp() const {
    pollfd pfd{fd_, POLLIN, 0};
    int rc;
    do {
      rc = ::poll(&pfd, 1, 0);
    } while (rc < 0 && errno == EINTR);
    return rc > 0 && !(pfd.revents & POLLIN) && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL));
  }

  const int fd_;
  const int wakeFd_;
  const bool pty_;
  const termios2 saved_;
  const std::unique_ptr<DeviceLockFile> lockFile_;
  // Last known state of the modem lines, for devices that cannot report it (ptys); opening a
  // tty raises both.
  bool dtrOn_ = true;
  bool rtsOn_ = true;
};

// Closes a descriptor unless released.
struct FdGuard {
  int fd;
  ~FdGuard() {
    if (fd >= 0) ::close(fd);
  }
  int Release() {
    int f = fd;
    fd = -1;
    return f;
  }
};

}  // namespace

std::unique_ptr<SerialDriver> OpenPosixSerial(const std::string& path, int& err) {
  err = 0;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    err = errno;
    return nullptr;
  }
  FdGuard guard{fd};

  struct stat st {};
  if (::fstat(fd, &st) < 0) {
    err = errno;
    return nullptr;
  }
  if (!S_ISCHR(st.st_mode)) {
    err = ENOTTY;
    return nullptr;
  }
  termios2 saved{};
  if ((err = Ioctl(fd, TCGETS2, &saved)) != 0) return nullptr;

  // Other serial programs' lock file is honoured (and ours written) before the device is taken.
  auto lockFile = std::make_unique<DeviceLockFile>();
  if (lockFile->Acquire(path) == DeviceLockResult::HeldByOther) {
    err = EBUSY;
    return nullptr;
  }

  // flock is the real guard: TIOCEXCL does not stop root.
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) {
    err = (errno == EWOULDBLOCK) ? EBUSY : errno;
    return nullptr;
  }
  ::ioctl(fd, TIOCEXCL);

  termios2 raw = saved;
  tcflag_t keep = raw.c_cflag;
  raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | IMAXBEL | IUCLC | INPCK);
  raw.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  raw.c_cflag = (keep & ~CRTSCTS) | CREAD | CLOCAL;
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if ((err = Ioctl(fd, TCSETS2, &raw)) != 0) {
    ::ioctl(fd, TIOCNXCL);
    return nullptr;
  }

  int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    err = errno;
    ::ioctl(fd, TCSETS2, &saved);
    ::ioctl(fd, TIOCNXCL);
    return nullptr;
  }
  unsigned major = ::major(st.st_rdev);
  bool pty = major >= kPtySlaveMajorFirst && major <= kPtySlaveMajorLast;
  return std::make_unique<PosixSerial>(guard.Release(), wakeFd, pty, saved, std::move(lockFile));
}

void RegisterSerialDevicePorts() {
  PortProvider provider;
  provider.open = [](const std::string& path, int& err) { return OpenPosixSerial(path, err); };
  provider.list = [] { return ListSerialHardware(); };
  provider.exists = [](const std::string& path) { return IsTerminalDevice(path); };
  RegisterPortProvider(std::move(provider));
}

}  // namespace lumo
