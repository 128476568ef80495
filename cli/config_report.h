// The configuration report: one self-contained HTML page (inline style, no external files) for a
// device's service record, printable on A4.
//
// State model: none. CollectReport takes what the page shows from the current definition and
// parameter model (Device values after a read, or File values after a file was loaded) into a
// ReportData; RenderReportHtml turns that into the page. Every text in ReportData is UTF-8.
//
//   Crc32            CRC-32 (the zip/PNG polynomial, reflected, init and final xor 0xFFFFFFFF)
//   PagesChecksum    CRC-32 over the parameter pages first..last, each at its length, in order
//   ValuesChecksum   CRC-32 over what a parameter file carries: each parameter's record name and
//                    value, sorted by name, and the beam range text; equal for a device and the
//                    file saved from it
//   ReportLabel      a label of the page in English or German
//   HtmlEscape       &, <, >, " and ' as entities
//   (a caption as printed, without its hotkey marks: WithoutHotkeyMarks, definitions/cell_text.h)
//   CollectRows      the parameter rows from the model (Device or File values)
//   RenderReportHtml the page
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "definitions/cell_text.h"
#include "definitions/pardef.h"
#include "files/page_checksum.h"

namespace lumo::cli {

// Crc32 and PagesChecksum live in the core (files/page_checksum.h): the unit history uses them.
using lumo::Crc32;
using lumo::PagesChecksum;

// name (the record's name without hotkey marks) and value of each parameter a file carries.
using NamedValues = std::vector<std::pair<std::string, int32_t>>;
// "name=value\n" per parameter (sorted by name), then "beams=TEXT\n" when beams is not empty.
uint32_t ValuesChecksum(NamedValues values, const std::string& beams);

enum class ReportLang { English, German };

enum class ReportLabelId {
  Title,
  DeviceType,
  Identity,
  Firmware,
  Port,
  Date,
  Source,
  Value,
  Text,
  LimitsStates,
  References,
  Beam,
  Checksum,
  ChecksumNote,
  ValuesChecksum,
  ValuesChecksumNote,
  ChecksumNoteNoBeams,  // the notes for a device without beams (joystick)
  ValuesChecksumNoteNoBeams,
  NotRead,
};
const char* ReportLabel(ReportLabelId id, ReportLang lang);

std::string HtmlEscape(const std::string& text);

struct ReportRow {
  std::string name;
  std::optional<int32_t> value;  // empty: no value
  std::string text;
  std::string limits;  // "min .. max", or the states "value = name, ..."
};

struct ReportData {
  ReportLang lang = ReportLang::English;
  std::string deviceType;   // "TG5"
  std::string displayName;  // the definition's display name
  std::string identity;
  std::string firmware;  // "4,2", empty for none
  std::string port;      // empty for a file
  std::string source;    // the parameter file, empty for a device
  std::string dateTime;
  std::string columnName, columnValue;  // the parameter table's own captions
  std::vector<ReportRow> rows;
  std::string beamCaption;          // the beam panel's caption; empty: no beams (joystick)
  std::string beams;                // the beam range text
  std::vector<uint8_t> references;  // one byte per beam; empty: none shown
  bool fp8 = false;                 // references are 8-bit floating point numbers
  uint32_t checksum = 0;            // PagesChecksum
  uint32_t valuesChecksum = 0;      // ValuesChecksum
};

// The rows of the records shown in the parameter table; fromFile takes the File values.
std::vector<ReportRow> CollectRows(const ParDef* def, bool fromFile);

std::string RenderReportHtml(const ReportData& data);

}  // namespace lumo::cli
