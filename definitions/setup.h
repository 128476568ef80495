// Definition-driven setup: the program's configuration taken from the device definition.
//
// State, set once at start by SetupFromDefinition and fixed until the program ends (only
// SetDeviceType may still turn an unknown type into 1, when a parameter file says so):
//   current definition   the ParDef in use, or none
//   device type          1 TG5 (light curtain), 2 Jovix (joystick controller), -1 unknown
//   ray limits           the default beam range of the beam panel (device type 1)
//   eleven timeouts      protocol timeouts in milliseconds
// The device type, ray limits and timeouts are atomics: the link thread reads the timeouts
// while the user interface thread runs. The definition itself is written only during setup.
//
//   SetupFromDefinition     load the definition and apply it; false: no usable definition
//   SetupWithDefinition     the same with a definition loaded by the caller (or none)
//   DiscardCurrentDefinition  free the current definition at exit
//   CurrentDefinition       the definition in use (nullptr: none)
//   DeviceType, SetDeviceType, RayLimitFirst, RayLimitLast, TimeoutMs
//   DeviceTypeOf            1, 2 or -1 for a "[DUT]" value text
//   DefinitionDeviceType    the type a list names; 1 without a "[DUT]" record
//   DeviceTypeName          "TG5", "Jovix"
//   DisplayName             "[DUT_DisplayAs]" or the type's name
//   SerialLineText          the "[Baudrate]" text of the current definition
//   FloatSetting            a constant of the current definition, or a default
//   MaxDistance, CalFactor, GainThreshold, SigMaxMantissa   named constants with defaults
//   ReadTimeout             a timeout constant; says which one is missing
//   NeedsDropDownRows       whether the parameter table edits some rows with a drop-down list
//   GetParameter, SetParameter   value of a named record of the current definition
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "definitions/pardef.h"

namespace lumo {

inline constexpr int kDeviceTG5 = 1;
inline constexpr int kDeviceJovix = 2;
inline constexpr int kDeviceUnknown = -1;

// The protocol timeouts, in the order they are read and checked.
enum class TimeoutId {
  ReadTimeoutInterval,    // largest gap between two bytes of a block read
  ReadTimeoutMultiplier,  // per requested byte, part of the total limit of a block read
  ReadTimeoutConstant,    // constant part of the total limit of a block read
  TimeoutThreadCycle,     // the link cycle's wait for one byte
  TimeoutBootID,          // first byte of the identity text after the wake-up sequence
  TimeoutTR,              // each reply byte of the signal poll
  TimeoutNoTraffic,       // quiet time that ends a drain of the input
  TimeoutPresentPrompt,   // the presence answer
  TimeoutWFResult,        // acknowledgement of a page write
  TimeoutEFResult,        // acknowledgement of an erase
  TimeoutFlashResponse,   // the boot loader's answers during a firmware update
};
inline constexpr int kTimeoutCount = 11;

// The setting name of a timeout, brackets included ("[TimeoutBootID]").
const char* TimeoutSettingName(TimeoutId id);

// Adapts the main window to the definition now in use (row height, buttons, beam panel). Called
// once by setup when a definition is left; the desktop program supplies it, others pass none.
using WindowAdaptation = std::function<void(const ParDef& definition, int deviceType)>;

bool SetupFromDefinition(const WindowAdaptation& adapt = {});
bool SetupWithDefinition(std::unique_ptr<ParDef> definition, const WindowAdaptation& adapt = {});
void DiscardCurrentDefinition();

ParDef* CurrentDefinition();
int DeviceType();
void SetDeviceType(int type);
uint32_t RayLimitFirst();
uint32_t RayLimitLast();
int32_t TimeoutMs(TimeoutId id);

int DeviceTypeOf(const char* text);
int DefinitionDeviceType(const ParDef* list);
const char* DeviceTypeName(int type);
const char* DisplayName(const ParDef* list, int type);
const char* SerialLineText();

double FloatSetting(const char* name, double defaultValue);
double MaxDistance();
double CalFactor();
double GainThreshold();
int32_t SigMaxMantissa();

// The timeout constant truncated toward zero; a missing one (absent, not a constant, or -1)
// shows "Missing timeout definition" naming it and returns false.
bool ReadTimeout(const char* name, int32_t* out);

// True when a record that is not bracketed has more than two states.
bool NeedsDropDownRows(const ParDef& list);

bool GetParameter(const char* name, int32_t* out);
bool SetParameter(const char* name, int32_t value);

}  // namespace lumo
