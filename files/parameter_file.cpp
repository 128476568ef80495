#include "files/parameter_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>

#include "base/save_failure.h"
#include "base/translations.h"
#include "definitions/scan.h"
#include "definitions/setup.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/text.h"

namespace lumo {

namespace {

constexpr const char* kBeamKey = "Strahlenkonfiguration";
constexpr const char* kDeviceKey = "[DUT]";
constexpr const char* kLineEnd = "\r\n";
constexpr const char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr size_t kUtf8BomBytes = sizeof kUtf8Bom - 1;
// A line is read whole up to this many characters; the rest of a longer line is dropped. (Lines
// are not split into several: a long beam line would otherwise lose its tail without a word.)
constexpr size_t kMaxLineLength = 65535;
// Filled message texts are cut to this many characters.
constexpr size_t kMaxMessageLength = 200;

// Whether a value reads back as itself from the one byte of the device's memory that holds it
// (the codec's mask, shift and sign). A linked value depends on the device and is not judged.
bool FitsItsByte(const PVar& record, int32_t value) {
  if (record.hasReference || record.rShift > 15) return true;
  const uint32_t bits = (static_cast<uint32_t>(value) << record.rShift) & record.mask & 0xFFu;
  uint32_t v = (bits & record.mask) >> record.rShift;
  const uint32_t sign = v & (record.mask ^ (record.mask >> 1));
  if (record.isSigned && sign != 0) v |= ~(2u * sign - 1u);
  return static_cast<int32_t>(v) == value;
}

void ShowFileError(const std::string& text) {
  ShowMessage(MsgKind::Error, text, MsgText("ERRKFG_OPEN"));
}

// Reads one line (without its CR LF or LF); false at the end of the stream.
bool ReadLine(std::istream& in, std::string& line) {
  line.clear();
  if (!in.good()) return false;
  int c;
  bool any = false;
  while ((c = in.get()) != EOF) {
    any = true;
    if (c == '\n') break;
    if (line.size() < kMaxLineLength) line += static_cast<char>(c);
  }
  if (!any) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

std::string Normalized(std::string text) {
  // NUL bytes would end the text early; a hostile file must not hide a part of a line that way.
  for (char& c : text) {
    if (c == '\0') c = ' ';
  }
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  NormalizeBlanks(buffer.data());
  return buffer.data();
}

std::string WithoutAmpersands(const char* name) {
  std::string out;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p != '&') out += *p;
  }
  return out;
}

// The file's value of "[DUT]" without surrounding quotes, for the wrong-device message.
std::string Unquoted(const std::string& value) {
  if (value.size() >= 2 && value.front() == '"') {
    size_t close = value.find('"', 1);
    return value.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  }
  return value;
}

void ClearFileValues(ParDef* list) {
  for (PVar& record : list->records) record.fileValid = 0;
}

}  // namespace

bool WriteParameterFile(const ParDef* list, int deviceType, const std::string& beamText,
                        std::ostream& out) {
  if (list == nullptr) return false;
  // A definition without "[DUT]" (a light curtain) still names its device type, so that the
  // file reads back here and in other programs, which all expect the line.
  const PVar* dut = FindRecord(list, kDeviceKey);
  const std::string typeName =
      dut != nullptr ? Unquoted(dut->description) : std::string(DeviceTypeName(deviceType));
  out << kDeviceKey << " = \"" << typeName << "\"" << kLineEnd << kLineEnd;
  if (deviceType == 1) out << kBeamKey << " = " << beamText << kLineEnd << kLineEnd;
  for (size_t i = list->records.size(); i-- > 0;) {
    const PVar& record = list->records[i];
    if (record.bracketed || !record.editValid) continue;
    out << WithoutAmpersands(record.name) << " = ";
    if (!record.states.empty()) {
      const PState* state = StateByValue(&record, record.editValue);
      // An Edit value without a state cannot be valid; write nothing rather than a wrong name.
      out << (state != nullptr ? state->name : "");
    } else {
      out << record.editValue;
    }
    out << kLineEnd;
    if (!out) return false;
  }
  out.flush();
  return static_cast<bool>(out);
}

bool ReadParameterFile(const ParameterFileTarget& target, std::istream& in) {
  ParDef* list = target.list;
  if (list == nullptr || target.deviceType == nullptr) return false;
  int& programType = *target.deviceType;
  ClearFileValues(list);
  if (target.beamLine != nullptr) *target.beamLine = BeamLineState::None;
  int fileType = -1;
  std::string fileTypeText;
  std::string fatal;

  std::string raw;
  bool firstLine = true;
  int lineNumber = 0;
  auto problem = [&](ParameterFileProblem::Kind kind, const std::string& name,
                     const std::string& value, PVar* record) {
    if (target.problems == nullptr) return false;
    target.problems->push_back({kind, lineNumber, name, value, record});
    return true;
  };
  while (fatal.empty() && ReadLine(in, raw)) {
    ++lineNumber;
    // Editors on Windows often start a file with a UTF-8 byte order mark.
    if (firstLine && raw.compare(0, kUtf8BomBytes, kUtf8Bom) == 0) raw.erase(0, kUtf8BomBytes);
    firstLine = false;
    std::string line = Normalized(raw);
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string name = Normalized(line.substr(0, eq));
    std::string value = Normalized(line.substr(eq + 1));

    if (EqualNoCase(name, kBeamKey)) {
      if (programType != 1) {
        fatal = MsgText("ERRKFG_NOBEAMCONF");
        break;
      }
      if (target.autoCopyConf) continue;
      // Checked before anything changes: an unreadable line must not clear the beams.
      BeamStates probe = target.beams != nullptr ? *target.beams : BeamStates{};
      if (!ReadRangeText(value.c_str(), probe, true, true)) {
        if (target.beamLine != nullptr) *target.beamLine = BeamLineState::Unreadable;
        ShowFileError(FillText(MsgText("ERRKFG_BEAMLINE"), {value}, kMaxMessageLength));
        continue;
      }
      if (target.beamLine != nullptr) *target.beamLine = BeamLineState::Read;
      std::string question = FillText(MsgText("KFG_QRAYDEFIMPORT"), {value}, kMaxMessageLength);
      if (ShowMessage(MsgKind::Question, question, MsgText("KFG_DLGOPEN")) == MsgAnswer::Yes &&
          target.beams != nullptr) {
        ReadRangeText(value.c_str(), *target.beams, false, true);
      }
      continue;
    }
    if (EqualNoCase(name, kDeviceKey)) {
      fileType = DeviceTypeOf(value.c_str());
      fileTypeText = Unquoted(value);
      if (fileType == -1) fatal = MsgText("ERRKFG_UNKNOWNDUT");
      continue;
    }
    PVar* record = FindRecord(list, name.c_str());
    if (record == nullptr || IsBracketed(record)) {
      if (!problem(ParameterFileProblem::Kind::UnknownName, name, value, nullptr))
        ShowFileError(MsgText("ERRKFG_UNKNOWNPARAMETER"));
      continue;
    }
    int32_t number = 0;
    if (!record->states.empty()) {
      const PState* state = StateByText(list, record, value.c_str());
      if (state == nullptr) {
        if (!problem(ParameterFileProblem::Kind::UnknownState, name, value, record))
          ShowFileError(FillText(MsgText("ERRKFG_UNKNOWNVALUE"), {name, value}, kMaxMessageLength));
        continue;
      }
      number = state->value;
    } else if (!ParseNumberAt(value.c_str(), &number)) {
      problem(ParameterFileProblem::Kind::NotANumber, name, value, record);
      continue;
    } else if (!IsValidValue(record, number) || !FitsItsByte(*record, number) ||
               (record->hasLimits && (number < record->minimum || number > record->maximum))) {
      // Loaded as before (the Edit column judges it); reported to a caller that asks.
      problem(ParameterFileProblem::Kind::OutOfRange, name, value, record);
    }
    record->fileValue = number;
    record->fileValid = 1;
  }

  if (fatal.empty()) {
    if (programType == -1) programType = 1;
    // Files saved with a definition without "[DUT]" had no such line: the definition's type.
    if (fileType == -1 && FindRecord(list, kDeviceKey) == nullptr) {
      fileType = DefinitionDeviceType(list);
    }
    if (fileType != programType) {
      fatal = FillText(MsgText("ERRKFG_WRONGDUT"), {fileTypeText}, kMaxMessageLength);
    }
  }
  if (!fatal.empty()) {
    ClearFileValues(list);
    ShowFileError(fatal);
    return false;
  }
  return true;
}

const char* ProblemText(ParameterFileProblem::Kind kind) {
  switch (kind) {
    case ParameterFileProblem::Kind::UnknownName:
      return "unknown parameter name";
    case ParameterFileProblem::Kind::UnknownState:
      return "no such state";
    case ParameterFileProblem::Kind::NotANumber:
      return "not a number";
    case ParameterFileProblem::Kind::OutOfRange:
      return "out of range";
  }
  return "";
}

bool SaveParameterFile(const std::string& path, const ParDef* list, int deviceType,
                       const std::string& beamText) {
  std::ostringstream text;
  ReplaceResult result;
  if (!WriteParameterFile(list, deviceType, beamText, text)) {
    result.error = ReplaceError::WriteFailed;
    result.savedErrno = EINVAL;
    result.target = path;
  } else {
    result = ReplaceFileWith(path, text.str());
  }
  if (!result.ok()) {
    ShowMessage(MsgKind::Error, SaveFailureText("ERRKFG_SAVE", result), MsgText("KFG_DLGSAVE"));
  }
  return result.ok();
}

bool LoadParameterFile(const std::string& path, const ParameterFileTarget& target) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ShowMessage(MsgKind::Error, MsgText("ERRKFG_OPEN"), MsgText("KFG_DLGOPEN"));
    return false;
  }
  return ReadParameterFile(target, in);
}

}  // namespace lumo
