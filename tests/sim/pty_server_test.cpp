// The simulated device on a real pseudo-terminal: opening the slave is the power-up.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "sim/pty_server.h"

namespace lumo::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kReplyMs = 2000;
constexpr int kQuietMs = 300;

Bytes B(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

int OpenSlave(const std::string& path, speed_t speed) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return fd;
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  ::tcsetattr(fd, TCSANOW, &t);
  return fd;
}

void SetSpeed(int fd, speed_t speed) {
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  ::tcsetattr(fd, TCSANOW, &t);
}

Bytes Read(int fd, size_t n, int timeoutMs = kReplyMs) {
  Bytes got;
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (got.size() < n) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0) break;
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
    uint8_t buffer[64];
    ssize_t r = ::read(fd, buffer, std::min(n - got.size(), sizeof buffer));
    if (r <= 0) break;
    got.insert(got.end(), buffer, buffer + r);
  }
  return got;
}

Bytes Exchange(int fd, const std::string& command, size_t n, int timeoutMs = kReplyMs) {
  EXPECT_EQ(::write(fd, command.data(), command.size()), static_cast<ssize_t>(command.size()));
  return Read(fd, n, timeoutMs);
}

TEST(SimPty, OpenIsPowerUpCloseIsPowerDownAndTheRateIsSeen) {
  SimOptions options = DefaultOptions(DeviceKind::Tg5);
  options.switch2400 = true;
  options.bootDelayMs = 10;
  auto device = std::make_shared<SimDevice>(options);
  PtyServer server;
  int err = -1;
  ASSERT_TRUE(server.Open(false, false, err)) << err;
  server.Start(device);
  EXPECT_EQ(device->State(), DeviceState::Off);

  int fd = OpenSlave(server.SlavePath(), B1200);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Read(fd, 1), B("!"));
  EXPECT_EQ(Exchange(fd, std::string(10, ' '), options.identity.size()), B(options.identity));
  EXPECT_EQ(Exchange(fd, "v", 2), (Bytes{0xC4, 0x02}));
  EXPECT_TRUE(Exchange(fd, "2?", 1, kQuietMs).empty());  // the device now listens at 2400
  SetSpeed(fd, B2400);
  EXPECT_EQ(Exchange(fd, "?", 1), B("!"));
  ::close(fd);
  EXPECT_TRUE(device->WaitForState(DeviceState::Off, kReplyMs));

  fd = OpenSlave(server.SlavePath(), B1200);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Read(fd, 1), B("!"));
  server.Stop();  // like an unplugged adapter: reads end
  pollfd pfd{fd, POLLIN, 0};
  ASSERT_GT(::poll(&pfd, 1, kReplyMs), 0);  // the hang-up shows at once
  uint8_t byte = 0;
  EXPECT_LE(::read(fd, &byte, 1), 0);
  ::close(fd);
}

}  // namespace
}  // namespace lumo::sim
