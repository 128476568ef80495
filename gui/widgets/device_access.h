// What the parameter table and the beam panel read of the device link.
//
// State model. The widgets never reach into the link: they ask this interface whether device
// parameters have been read (ConfigValid), whether the device is in configuration mode
// (InConfigMode) and for the first firmware version byte (the beam layout). The page images are
// the codec's pair (Images() of definitions/pardef.h): the Device column and the beam panel read
// its device image, ApplyEdits and the beam panel write its edit image. The main window keeps that
// pair in step with the link (device image copied in after a read, edit image handed to the link
// before CMD_WRITE).
//
//   DeviceAccess   the interface (tests supply their own)
//   LinkAccess     the interface over a DutLink
#pragma once

#include <cstdint>

#include "definitions/pardef.h"

namespace lumo {
class DutLink;
}

namespace lumo::ui {

class DeviceAccess {
 public:
  virtual ~DeviceAccess() = default;
  // Device parameters have been read (device state DEV_VALID or later).
  virtual bool ConfigValid() const = 0;
  // The device is in configuration mode (DEV_CONFIG or later).
  virtual bool InConfigMode() const = 0;
  // The first firmware version byte the device reported.
  virtual uint8_t FirmwareByte0() const = 0;
  virtual const PageImage& DeviceImage() const { return Images().device; }
  virtual PageImage& EditImage() { return Images().edit; }
};

class LinkAccess : public DeviceAccess {
 public:
  explicit LinkAccess(DutLink& link) : link_(link) {}
  bool ConfigValid() const override;
  bool InConfigMode() const override;
  uint8_t FirmwareByte0() const override;

 private:
  DutLink& link_;
};

}  // namespace lumo::ui
