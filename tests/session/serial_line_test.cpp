#include "session/serial_line.h"

#include <gtest/gtest.h>

#include <tuple>

namespace lumo {
namespace {

void CheckLine(const char* text, int type, int32_t baud, int bits, int parity, int stop) {
  SerialLineSettings s = ParseSerialLine(text, type);
  EXPECT_EQ(std::make_tuple(s.baudRate, int{s.dataBits}, int{s.parity}, int{s.stopBits}),
            std::make_tuple(baud, bits, parity, stop))
      << (text ? text : "(none)");
}

TEST(SerialLine, FormattedReadingAndDefaults) {
  CheckLine(nullptr, 1, 1200, 8, kParityNone, kStopBitsOne);
  CheckLine(nullptr, 2, 9600, 8, kParityNone, kStopBitsOne);
  CheckLine("19200,7,e,2", 1, 19200, 7, kParityEven, kStopBitsTwo);
  CheckLine("100,9,x,3", 1, 1200, 8, kParityNone, kStopBitsOne);
  CheckLine(" 110 , +4 ,\tO , 1.5", 1, 110, 4, kParityOdd, kStopBitsOneHalf);
  CheckLine("256000,8,M,15e-1", 1, 256000, 8, kParityMark, kStopBitsOneHalf);
  CheckLine("256001,3,s,2.", 2, 9600, 8, kParitySpace, kStopBitsTwo);
  CheckLine("4294986496,8,n,1.4", 1, 1200, 8, kParityNone, kStopBitsOne);  // no wrap-around
  CheckLine("99999999999999999999999999999919200,5", 1, 1200, 5, kParityNone, kStopBitsOne);
  CheckLine("-9600,8,S,2.0", 1, 1200, 8, kParitySpace, kStopBitsTwo);
  CheckLine("9600;7,e,2", 1, 9600, 8, kParityNone, kStopBitsOne);  // ";" ends the reading
  CheckLine("9600,7,ee,2", 1, 9600, 7, kParityEven, kStopBitsOne);
  CheckLine("9600,7,e,1.50000001", 1, 9600, 7, kParityEven, kStopBitsOneHalf);  // as a float
  CheckLine("9600,7,e,1e99", 1, 9600, 7, kParityEven, kStopBitsOne);
  CheckLine("abc", 2, 9600, 8, kParityNone, kStopBitsOne);
  CheckLine("", 1, 1200, 8, kParityNone, kStopBitsOne);
}

}  // namespace
}  // namespace lumo
