// Kept apart: the kernel's termios2 header cannot share a file with <termios.h>.
#include "sim/pty_baud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace lumo::sim {

uint32_t TerminalBaudRate(int fd) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) return 0;
  return settings.c_ospeed;
}

}  // namespace lumo::sim
