// The baud rate a program set on a pseudo-terminal, read from its master side.
#pragma once

#include <cstdint>

namespace lumo::sim {

// The output rate of the terminal behind fd (termios2, so rates outside the standard table
// show too); 0 when it cannot be read.
uint32_t TerminalBaudRate(int fd);

}  // namespace lumo::sim
