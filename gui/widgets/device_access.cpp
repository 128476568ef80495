#include "gui/widgets/device_access.h"

#include "link/dut_link.h"

namespace lumo::ui {

bool LinkAccess::ConfigValid() const {
  return link_.ConfigValid();
}

bool LinkAccess::InConfigMode() const {
  return link_.InConfigMode();
}

uint8_t LinkAccess::FirmwareByte0() const {
  return link_.FirmwareWord()[0];
}

}  // namespace lumo::ui
