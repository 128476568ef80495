#include "cli/config_report.h"

#include <algorithm>

#include <array>
#include <cstdio>

#include "definitions/cell_text.h"
#include "platform/cp1252.h"
#include "platform/text.h"

namespace lumo::cli {

namespace {

// The reflected CRC-32 polynomial.
// References per line of the reference table.
constexpr size_t kReferencesPerRow = 16;

struct LabelRow {
  ReportLabelId id;
  const char* english;
  const char* german;
};
// id                            English                          German
const LabelRow kLabels[] = {
    {ReportLabelId::Title, "Configuration report", "Konfigurationsbericht"},
    {ReportLabelId::DeviceType, "Device type", "Ger\xC3\xA4tetyp"},
    {ReportLabelId::Identity, "Identity", "Kennung"},
    {ReportLabelId::Firmware, "Firmware", "Firmware"},
    {ReportLabelId::Port, "Port", "Schnittstelle"},
    {ReportLabelId::Date, "Date and time", "Datum und Uhrzeit"},
    {ReportLabelId::Source, "Parameter file", "Parameterdatei"},
    {ReportLabelId::Value, "Value", "Wert"},
    {ReportLabelId::Text, "Text", "Text"},
    {ReportLabelId::LimitsStates, "Limits or states", "Grenzen oder Zust\xC3\xA4nde"},
    {ReportLabelId::References, "Beam references", "Strahlreferenzen"},
    {ReportLabelId::Beam, "Beam", "Strahl"},
    {ReportLabelId::Checksum, "Checksum of the parameter pages (CRC-32)",
     "Pr\xC3\xBC"
     "fsumme der Parameterseiten (CRC-32)"},
    {ReportLabelId::ChecksumNote,
     "The page checksum covers the bytes of parameter pages 0 to 4 as the device holds them "
     "(each at its length), beam references included; for a parameter file, the pages its "
     "values give on erased memory. It compares two devices, or two files, never a device "
     "with a file.",
     "Die Seitenpr\xC3\xBC"
     "fsumme umfasst die Bytes der Parameterseiten 0 bis 4, wie das Ger\xC3\xA4t sie h\xC3\xA4lt "
     "(jede in ihrer L\xC3\xA4nge), einschlie\xC3\x9Flich der Strahlreferenzen; f\xC3\xBCr "
     "eine Parameterdatei die Seiten, die ihre Werte auf gel\xC3\xB6schtem Speicher ergeben. "
     "Sie vergleicht zwei Ger\xC3\xA4te oder zwei Dateien, nie ein Ger\xC3\xA4t mit einer "
     "Datei."},
    {ReportLabelId::ValuesChecksum, "Checksum of the values (CRC-32)",
     "Pr\xC3\xBC"
     "fsumme der Werte (CRC-32)"},
    {ReportLabelId::ValuesChecksumNote,
     "The value checksum covers exactly what a parameter file carries: each parameter's name "
     "and value and the beam configuration. It is equal for a device and the parameter file "
     "saved from it.",
     "Die Wertepr\xC3\xBC"
     "fsumme umfasst genau, was eine Parameterdatei tr\xC3\xA4gt: Name und Wert jedes "
     "Parameters und die Strahlkonfiguration. Sie ist f\xC3\xBCr ein Ger\xC3\xA4t und die "
     "daraus gespeicherte Parameterdatei gleich."},
    {ReportLabelId::ChecksumNoteNoBeams,
     "The page checksum covers the bytes of parameter pages 0 to 4 as the device holds them "
     "(each at its length); for a parameter file, the pages its values give on erased memory. "
     "It compares two devices, or two files, never a device with a file.",
     "Die Seitenpr\xC3\xBC"
     "fsumme umfasst die Bytes der Parameterseiten 0 bis 4, wie das Ger\xC3\xA4t sie h\xC3\xA4lt "
     "(jede in ihrer L\xC3\xA4nge); f\xC3\xBCr eine Parameterdatei die Seiten, die ihre Werte "
     "auf gel\xC3\xB6schtem Speicher ergeben. Sie vergleicht zwei Ger\xC3\xA4te oder zwei "
     "Dateien, nie ein Ger\xC3\xA4t mit einer Datei."},
    {ReportLabelId::ValuesChecksumNoteNoBeams,
     "The value checksum covers exactly what a parameter file carries: each parameter's name "
     "and value. It is equal for a device and the parameter file saved from it.",
     "Die Wertepr\xC3\xBC"
     "fsumme umfasst genau, was eine Parameterdatei tr\xC3\xA4gt: Name und Wert jedes "
     "Parameters. Sie ist f\xC3\xBCr ein Ger\xC3\xA4t und die daraus gespeicherte "
     "Parameterdatei gleich."},
    {ReportLabelId::NotRead, "not read", "nicht gelesen"},
};

std::string LimitsText(const ParDef* def, const PVar& record) {
  if (!record.states.empty()) {
    std::string text;
    for (const PState& state : record.states) {
      if (!text.empty()) text += ", ";
      text += std::to_string(state.value) + " = " + Cp1252ToUtf8(DisplayText(def, state.name));
    }
    return text;
  }
  if (record.hasLimits)
    return std::to_string(record.minimum) + " .. " + std::to_string(record.maximum);
  return "";
}

// The style of the page: compact on screen, one A4 page for a light curtain on paper.
constexpr const char* kStyle = R"(
body { font-family: "DejaVu Sans", Arial, sans-serif; font-size: 10pt; margin: 1.5em; color: #000; }
h1 { font-size: 15pt; margin: 0 0 .4em 0; }
h2 { font-size: 11pt; margin: 1em 0 .3em 0; }
table { border-collapse: collapse; }
th, td { border: 1px solid #999; padding: 1px 6px; text-align: left; vertical-align: top; }
th { background: #e8e8e8; }
table.head th { width: 14em; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
table.refs td { text-align: right; width: 2.6em; font-variant-numeric: tabular-nums; }
.checksum { font-family: "DejaVu Sans Mono", monospace; font-size: 13pt; font-weight: bold; }
.note { color: #444; font-size: 8.5pt; }
@media print {
  @page { size: A4; margin: 12mm; }
  body { margin: 0; font-size: 8.5pt; }
  h1 { font-size: 13pt; }
  th { background: #e8e8e8 !important; -webkit-print-color-adjust: exact; print-color-adjust: exact; }
  tr { break-inside: avoid; }
}
)";

}  // namespace

uint32_t ValuesChecksum(NamedValues values, const std::string& beams) {
  std::sort(values.begin(), values.end());
  std::string text;
  for (const auto& [name, value] : values) text += name + "=" + std::to_string(value) + "\n";
  if (!beams.empty()) text += "beams=" + beams + "\n";
  return Crc32(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

const char* ReportLabel(ReportLabelId id, ReportLang lang) {
  for (const LabelRow& row : kLabels) {
    if (row.id == id) return lang == ReportLang::German ? row.german : row.english;
  }
  return "";
}

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::vector<ReportRow> CollectRows(const ParDef* def, bool fromFile) {
  std::vector<ReportRow> rows;
  if (def == nullptr) return rows;
  for (const PVar& record : def->records) {
    if (record.bracketed) continue;
    ReportRow row;
    row.name = Cp1252ToUtf8(WithoutHotkeyMarks(NameCellText(def, &record)));
    if (fromFile) {
      if (record.fileValid) row.value = record.fileValue;
      row.text = Cp1252ToUtf8(FileCellText(def, &record));
    } else {
      int32_t value = DeviceValue(&record);
      if (value != NoValue) row.value = value;
      row.text = Cp1252ToUtf8(DeviceCellText(def, &record, true));
    }
    row.limits = LimitsText(def, record);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string RenderReportHtml(const ReportData& data) {
  const ReportLang lang = data.lang;
  auto label = [lang](ReportLabelId id) { return std::string(ReportLabel(id, lang)); };
  char checksum[16];
  std::snprintf(checksum, sizeof checksum, "%08X", data.checksum);

  std::string html;
  html += "<!DOCTYPE html>\n<html lang=\"";
  html += lang == ReportLang::German ? "de" : "en";
  html += "\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
  html +=
      HtmlEscape(label(ReportLabelId::Title) + " - " + data.displayName + " - " + data.identity);
  html += "</title>\n<style>";
  html += kStyle;
  html += "</style>\n</head>\n<body>\n<h1>" + HtmlEscape(label(ReportLabelId::Title)) + ": " +
          HtmlEscape(data.displayName) + "</h1>\n";

  html += "<table class=\"head\">\n";
  auto headRow = [&html](const std::string& name, const std::string& value,
                         const char* cls = nullptr) {
    html += "<tr><th>" + HtmlEscape(name) + "</th><td" +
            (cls != nullptr ? std::string(" class=\"") + cls + "\"" : std::string()) + ">" +
            HtmlEscape(value) + "</td></tr>\n";
  };
  headRow(label(ReportLabelId::DeviceType), data.deviceType + " (" + data.displayName + ")");
  if (!data.identity.empty()) headRow(label(ReportLabelId::Identity), data.identity);
  if (!data.firmware.empty()) headRow(label(ReportLabelId::Firmware), data.firmware);
  if (!data.port.empty()) headRow(label(ReportLabelId::Port), data.port);
  if (!data.source.empty()) headRow(label(ReportLabelId::Source), data.source);
  headRow(label(ReportLabelId::Date), data.dateTime);
  char valuesChecksum[16];
  std::snprintf(valuesChecksum, sizeof valuesChecksum, "%08X", data.valuesChecksum);
  headRow(label(ReportLabelId::Checksum), checksum, "checksum");
  headRow(label(ReportLabelId::ValuesChecksum), valuesChecksum, "checksum");
  const bool beams = !data.beamCaption.empty();
  const ReportLabelId pagesNote =
      beams ? ReportLabelId::ChecksumNote : ReportLabelId::ChecksumNoteNoBeams;
  const ReportLabelId valuesNote =
      beams ? ReportLabelId::ValuesChecksumNote : ReportLabelId::ValuesChecksumNoteNoBeams;
  html += "</table>\n<p class=\"note\">" + HtmlEscape(label(pagesNote)) +
          "</p>\n<p class=\"note\">" + HtmlEscape(label(valuesNote)) + "</p>\n";

  html += "<h2>" + HtmlEscape(data.columnName) + "</h2>\n<table class=\"params\">\n<tr><th>" +
          HtmlEscape(data.columnName) + "</th><th>" + HtmlEscape(data.columnValue) + "</th><th>" +
          HtmlEscape(label(ReportLabelId::Text)) + "</th><th>" +
          HtmlEscape(label(ReportLabelId::LimitsStates)) + "</th></tr>\n";
  for (const ReportRow& row : data.rows) {
    html += "<tr><td>" + HtmlEscape(row.name) + "</td><td class=\"num\">" +
            (row.value ? std::to_string(*row.value) : std::string("&ndash;")) + "</td><td>" +
            HtmlEscape(row.text) + "</td><td>" + HtmlEscape(row.limits) + "</td></tr>\n";
  }
  html += "</table>\n";

  if (!data.beamCaption.empty()) {
    html +=
        "<h2>" + HtmlEscape(data.beamCaption) + "</h2>\n<p>" + HtmlEscape(data.beams) + "</p>\n";
  }
  if (!data.references.empty()) {
    html += "<h2>" + HtmlEscape(label(ReportLabelId::References)) + (data.fp8 ? " (FP8)" : "") +
            "</h2>\n<table class=\"refs\">\n";
    for (size_t first = 0; first < data.references.size(); first += kReferencesPerRow) {
      html += "<tr><th>" + HtmlEscape(label(ReportLabelId::Beam)) + " " +
              std::to_string(first + 1) + "</th>";
      for (size_t i = first; i < first + kReferencesPerRow && i < data.references.size(); ++i)
        html += "<td>" + std::to_string(data.references[i]) + "</td>";
      html += "</tr>\n";
    }
    html += "</table>\n";
  }
  html += "</body>\n</html>\n";
  return html;
}

}  // namespace lumo::cli
