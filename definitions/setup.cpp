#include "definitions/setup.h"

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/program_paths.h"
#include "base/translations.h"
#include "definitions/definition.h"
#include "definitions/loader.h"
#include "platform/message_box.h"
#include "platform/text.h"

namespace lumo {

namespace {

// Defaults of the constants the program reads.
constexpr double kDefaultRayLimitFirst = 1.0;
constexpr double kDefaultRayLimitLast = 256.0;
constexpr double kDefaultGainThreshold = 2.0;
constexpr double kDefaultMaxDistance = 10.0;
// 2000.0 as the program always had it: one unit in the last place above 2000.
constexpr uint64_t kDefaultCalFactorBits = 0x409F400000000001ull;
constexpr double kDefaultSigMaxMantissa = 28.0;
// ReadTimeout's mark for a missing timeout.
constexpr double kMissingTimeout = -1.0;
// Highest beam of a light curtain.
constexpr uint32_t kMaxBeam = 256;
// The formatted "Missing timeout" text holds at most this many characters.
constexpr std::size_t kTimeoutMessageMax = 199;

// Setting name of each timeout, in TimeoutId order.
constexpr const char* kTimeoutNames[kTimeoutCount] = {
    "[ReadTimeoutInterval]", "[ReadTimeoutMultiplier]", "[ReadTimeoutConstant]",
    "[TimeoutThreadCycle]",  "[TimeoutBootID]",         "[TimeoutTR]",
    "[TimeoutNoTraffic]",    "[TimeoutPresentPrompt]",  "[TimeoutWFResult]",
    "[TimeoutEFResult]",     "[TimeoutFlashResponse]",
};

std::unique_ptr<ParDef> g_definition;
std::atomic<int> g_deviceType{kDeviceUnknown};
std::atomic<uint32_t> g_rayFirst{1};
std::atomic<uint32_t> g_rayLast{kMaxBeam};
std::atomic<int32_t> g_timeouts[kTimeoutCount] = {};

// A double truncated toward zero into [low, high]; NaN gives `nanValue`.
int64_t TruncateClamped(double value, int64_t low, int64_t high, int64_t nanValue) {
  if (std::isnan(value)) return nanValue;
  double t = std::trunc(value);
  if (t <= static_cast<double>(low)) return low;
  if (t >= static_cast<double>(high)) return high;
  return static_cast<int64_t>(t);
}

// A constant as the program takes a ray limit: truncated toward zero, as an unsigned 32-bit
// number (a negative number becomes a large one).
uint32_t RayLimit(const char* name, double defaultValue) {
  int64_t v = TruncateClamped(FloatSetting(name, defaultValue), INT32_MIN, UINT32_MAX, 0);
  return static_cast<uint32_t>(v);
}

// Step 4 of the setup: the default beam range of a light curtain.
void ReadRayLimits() {
  uint32_t first = RayLimit("[RayLimitFirst]", kDefaultRayLimitFirst);
  uint32_t last = RayLimit("[RayLimitLast]", kDefaultRayLimitLast);
  if (last <= 1) last = 1;
  if (last > kMaxBeam - 1) last = kMaxBeam;
  if (first <= 1) first = 1;
  if (first > last) first = last;
  g_rayFirst = first;
  g_rayLast = last;
}

// Step 3: the settings a light curtain cannot work without; the error's MsgId or nullptr.
const char* MissingGainSetting(const ParDef* list) {
  int32_t value = 0;
  if (!GetValueByName(list, "[SW-Amp]", &value)) return "ERRPVAR_MISSINGATTENDEF";
  if (!GetValueByName(list, "[HW-Amp]", &value)) return "ERRPVAR_MISSINGHGAINDEF";
  return nullptr;
}

// Step 5: every timeout, stopping at the first one missing.
bool ReadAllTimeouts() {
  for (int i = 0; i < kTimeoutCount; ++i) {
    int32_t value = 0;
    if (!ReadTimeout(kTimeoutNames[i], &value)) return false;
    g_timeouts[i] = value;
  }
  return true;
}

}  // namespace

const char* TimeoutSettingName(TimeoutId id) {
  return kTimeoutNames[static_cast<int>(id)];
}

bool SetupFromDefinition(const WindowAdaptation& adapt) {
  g_deviceType = kDeviceUnknown;
  return SetupWithDefinition(LoadDefinition(), adapt);
}

bool SetupWithDefinition(std::unique_ptr<ParDef> definition, const WindowAdaptation& adapt) {
  g_deviceType = kDeviceUnknown;
  g_definition = std::move(definition);
  const char* gainError = nullptr;
  if (g_definition) {
    const int type = DefinitionDeviceType(g_definition.get());
    g_deviceType = type;
    if (type == kDeviceTG5) {
      gainError = MissingGainSetting(g_definition.get());
      ReadRayLimits();
    }
    if (gainError != nullptr || !ReadAllTimeouts()) DiscardDefinition(g_definition);
  }
  SetTranslationVariant(g_deviceType);
  if (g_definition && adapt) adapt(*g_definition, g_deviceType);
  if (gainError != nullptr) ShowMessage(MsgKind::Error, MsgText(gainError), ApplicationTitle());
  return g_definition != nullptr;
}

void DiscardCurrentDefinition() {
  DiscardDefinition(g_definition);
}

ParDef* CurrentDefinition() {
  return g_definition.get();
}
int DeviceType() {
  return g_deviceType;
}
void SetDeviceType(int type) {
  g_deviceType = type;
}
uint32_t RayLimitFirst() {
  return g_rayFirst;
}
uint32_t RayLimitLast() {
  return g_rayLast;
}
int32_t TimeoutMs(TimeoutId id) {
  return g_timeouts[static_cast<int>(id)];
}

int DeviceTypeOf(const char* text) {
  if (text == nullptr) text = "";
  const char* part = text;
  std::size_t length = std::strlen(text);
  if (text[0] == '"') {
    part = text + 1;
    const char* close = std::strchr(part, '"');
    length = close != nullptr ? static_cast<std::size_t>(close - part) : 0;
  }
  // Over the part's length: the part must be a prefix of the name, or the whole name.
  auto matches = [&](const char* name) {
    return StartsWithNoCase(name, std::string_view(part, length));
  };
  if (matches("Jovix")) return kDeviceJovix;
  if (matches("TG5")) return kDeviceTG5;
  return kDeviceUnknown;
}

int DefinitionDeviceType(const ParDef* list) {
  const PVar* dut = FindRecord(list, "[DUT]");
  return dut != nullptr ? DeviceTypeOf(dut->description) : kDeviceTG5;
}

const char* DeviceTypeName(int type) {
  return type == kDeviceJovix ? "Jovix" : "TG5";
}

const char* DisplayName(const ParDef* list, int type) {
  const PVar* shown = FindRecord(list, "[DUT_DisplayAs]");
  return shown != nullptr ? shown->description : DeviceTypeName(type);
}

const char* SerialLineText() {
  const PVar* line = FindRecord(CurrentDefinition(), "[Baudrate]");
  return line != nullptr ? line->description : nullptr;
}

double FloatSetting(const char* name, double defaultValue) {
  double value = 0.0;
  return GetConstant(CurrentDefinition(), name, &value) ? value : defaultValue;
}

double MaxDistance() {
  return FloatSetting("[MaxDistance]", kDefaultMaxDistance);
}
double CalFactor() {
  return FloatSetting("[CalFactor]", std::bit_cast<double>(kDefaultCalFactorBits));
}
double GainThreshold() {
  return FloatSetting("[GainThreshold]", kDefaultGainThreshold);
}
int32_t SigMaxMantissa() {
  double v = FloatSetting("[SigMaxMantissa]", kDefaultSigMaxMantissa);
  return static_cast<int32_t>(TruncateClamped(v, INT32_MIN, INT32_MAX, 0));
}

bool ReadTimeout(const char* name, int32_t* out) {
  double v = FloatSetting(name, kMissingTimeout);
  // NaN is no timeout either.
  int32_t ms = static_cast<int32_t>(TruncateClamped(v, INT32_MIN, INT32_MAX, -1));
  if (out != nullptr) *out = ms;
  if (ms != -1) return true;
  char text[kTimeoutMessageMax + 1];
  std::snprintf(text, sizeof text, MsgText("ERRPVAR_MISSINGTODEF"), name);
  ShowMessage(MsgKind::Error, text, ApplicationTitle());
  return false;
}

bool NeedsDropDownRows(const ParDef& list) {
  for (const PVar& record : list.records) {
    if (!record.bracketed && record.states.size() > 2) return true;
  }
  return false;
}

bool GetParameter(const char* name, int32_t* out) {
  return GetValueByName(CurrentDefinition(), name, out);
}

bool SetParameter(const char* name, int32_t value) {
  return SetValueByName(CurrentDefinition(), name, value);
}

}  // namespace lumo
