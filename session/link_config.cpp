#include "session/link_config.h"

#include <algorithm>

#include "base/settings.h"
#include "definitions/setup.h"
#include "session/serial_line.h"

namespace lumo {

LinkConfig LinkConfigFromProgram() {
  LinkConfig config;
  config.deviceType = DeviceType();
  SerialLineSettings line = ParseSerialLine(SerialLineText(), config.deviceType);
  config.baudRate = static_cast<uint32_t>(line.baudRate);
  config.dataBits = line.dataBits;
  config.parity = line.parity;
  config.stopBits = line.stopBits;
  Settings settings = CurrentSettings();
  config.echo = settings.echo != 0;
  config.autoRead = settings.autoReadConf != 0;
  config.verifyReads = settings.verifyReads != 0;
  auto ms = [](TimeoutId id) { return static_cast<uint32_t>(std::max(0, TimeoutMs(id))); };
  config.timeouts.readInterval = ms(TimeoutId::ReadTimeoutInterval);
  config.timeouts.readMultiplier = ms(TimeoutId::ReadTimeoutMultiplier);
  config.timeouts.readConstant = ms(TimeoutId::ReadTimeoutConstant);
  config.timeouts.threadCycle = ms(TimeoutId::TimeoutThreadCycle);
  config.timeouts.bootId = ms(TimeoutId::TimeoutBootID);
  config.timeouts.tr = ms(TimeoutId::TimeoutTR);
  config.timeouts.noTraffic = ms(TimeoutId::TimeoutNoTraffic);
  config.timeouts.presentPrompt = ms(TimeoutId::TimeoutPresentPrompt);
  config.timeouts.wfResult = ms(TimeoutId::TimeoutWFResult);
  config.timeouts.efResult = ms(TimeoutId::TimeoutEFResult);
  config.timeouts.flashResponse = ms(TimeoutId::TimeoutFlashResponse);
  return config;
}

}  // namespace lumo
