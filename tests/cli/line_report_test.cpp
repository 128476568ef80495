// The pieces of the production line and the configuration report that need no device: the
// checksum, the HTML page, the per-unit log line and the summary.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "cli/config_report.h"
#include "cli/production_line.h"
#include "platform/message_box.h"
#include "selftest/limits.h"
#include "selftest/selftest.h"

namespace lumo::cli {
namespace {

uint32_t CrcOf(const std::string& text) {
  return Crc32(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(ReportChecksum, IsTheStandardCrc32AndCoversExactlyThePagesRead) {
  EXPECT_EQ(CrcOf(""), 0x00000000u);
  EXPECT_EQ(CrcOf("123456789"), 0xCBF43926u);
  EXPECT_EQ(CrcOf("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
  // Chained: the CRC of the parts is the CRC of the whole.
  EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>("6789"), 4, CrcOf("12345")), 0xCBF43926u);

  PageImage image{};
  std::memset(&image, 0xFF, sizeof image);
  const std::vector<int> lengths = {32, 32, 32, 32, 32};
  const uint32_t base = PagesChecksum(image, lengths);
  image.bytes[4][31] = 0xFE;  // one bit of the last byte of the last page
  EXPECT_NE(PagesChecksum(image, lengths), base);
  image.bytes[4][31] = 0xFF;
  image.bytes[4][32] = 0x00;  // beyond the page's length
  image.bytes[5][0] = 0x00;   // beyond the pages
  EXPECT_EQ(PagesChecksum(image, lengths), base);
  // A page not read is left out; a length beyond the image is cut, never read past it.
  EXPECT_NE(PagesChecksum(image, {32, -1, 32, 32, 32}), base);
  EXPECT_EQ(PagesChecksum(image, {100000}), PagesChecksum(image, {kPageSize}));
}

ReportData SampleReport() {
  ReportData data;
  data.deviceType = "TG5";
  data.displayName = "TG5, Lichtgitter";
  data.identity = "SN <b>47</b> & \"x\"";
  data.firmware = "4,2";
  data.port = "/dev/ttyUSB0";
  data.dateTime = "2026-12-06 21:00";
  data.columnName = "Parameter";
  data.columnValue = "Device";
  data.rows = {{"Swap", 1, "swapped", "0 = normal, 1 = swapped"},
               {"Gone", std::nullopt, "?\?\?", ""}};
  data.beamCaption = "Beam configuration";
  data.beams = "1-10;20";
  data.references.assign(40, 7);
  data.checksum = 0x0012ABCD;
  return data;
}

TEST(ReportPage, IsSelfContainedEscapedAndPrintable) {
  EXPECT_EQ(HtmlEscape("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&#39;");
  EXPECT_EQ(WithoutHotkeyMarks("Strahl&konfiguration && mehr"), "Strahlkonfiguration & mehr");

  const std::string html = RenderReportHtml(SampleReport());
  EXPECT_EQ(html.find("<b>47"), std::string::npos) << "identity not escaped";
  EXPECT_NE(html.find("SN &lt;b&gt;47&lt;/b&gt; &amp; &quot;x&quot;"), std::string::npos);
  for (const char* external : {"<link", "src=", "http:", "https:", "@import", "url("})
    EXPECT_EQ(html.find(external), std::string::npos) << external;
  EXPECT_NE(html.find("@media print"), std::string::npos);
  EXPECT_NE(html.find("0012ABCD"), std::string::npos);
  EXPECT_NE(html.find("<td class=\"num\">1</td><td>swapped</td>"), std::string::npos);
  EXPECT_NE(html.find("<td class=\"num\">&ndash;</td><td>?\?\?</td>"), std::string::npos);
  EXPECT_NE(html.find("1-10;20"), std::string::npos);
  // 40 references in rows of 16: beams 1, 17 and 33 head a row.
  EXPECT_NE(html.find("Beam 33</th>"), std::string::npos);
  EXPECT_EQ(html.find("Beam 49</th>"), std::string::npos);

  ReportData german = SampleReport();
  german.lang = ReportLang::German;
  german.beamCaption.clear();
  german.references.clear();
  const std::string de = RenderReportHtml(german);
  EXPECT_NE(de.find("<html lang=\"de\">"), std::string::npos);
  EXPECT_NE(de.find("Konfigurationsbericht"), std::string::npos);
  EXPECT_EQ(de.find("Strahl"), std::string::npos) << "a joystick report shows no beams";
}

UnitRecord SampleUnit(bool passed) {
  UnitRecord unit;
  unit.time = "2026-12-06 21:00:00";
  unit.port = "/dev/pts/3";
  unit.identity = "TG5 \"Licht\", SN 1";
  unit.firmware[0] = 4;
  unit.firmware[1] = 2;
  unit.passed = passed;
  if (!passed) {
    unit.step = "write";
    unit.reason = "page 4";
  }
  unit.values = {{"$(maxdef)", 3, "Maxdefect", "3"}};
  unit.beams = "1-10;20";
  unit.seconds = 2.34;
  return unit;
}

TEST(UnitLog, CsvForCsvFilesJsonLinesOtherwise) {
  EXPECT_EQ(LogFormatFor("units.csv"), LogFormat::Csv);
  EXPECT_EQ(LogFormatFor("/a.b/UNITS.CSV"), LogFormat::Csv);
  EXPECT_EQ(LogFormatFor("units.jsonl"), LogFormat::JsonLines);
  EXPECT_EQ(LogFormatFor("csv"), LogFormat::JsonLines);

  EXPECT_EQ(LogLine(SampleUnit(false), LogFormat::Csv),
            "2026-12-06 21:00:00,/dev/pts/3,\"TG5 \"\"Licht\"\", SN 1\",\"[4, 2]\",failed,write,"
            "page 4,,$(maxdef)=3,\"1-10;20\",,2.3");
  EXPECT_EQ(CsvHeader().find("time,port,identity,firmware,result"), 0u);

  auto json = nlohmann::json::parse(LogLine(SampleUnit(true), LogFormat::JsonLines));
  EXPECT_EQ(json["result"], "ok");
  EXPECT_EQ(json["identity"], "TG5 \"Licht\", SN 1");
  EXPECT_EQ(json["values"]["$(maxdef)"], 3);
  EXPECT_EQ(json["texts"]["$(maxdef)"]["name"], "Maxdefect");
  EXPECT_EQ(json["firmware"], nlohmann::json({4, 2}));
  EXPECT_EQ(json["beams"], "1-10;20");
  EXPECT_DOUBLE_EQ(json["seconds"].get<double>(), 2.34);
  EXPECT_EQ(LogLine(SampleUnit(true), LogFormat::JsonLines).find('\n'), std::string::npos);
}

TEST(UnitLog, FlashAndSelfTestFieldsInBothFormats) {
  UnitRecord unit = SampleUnit(false);
  unit.step = "selftest";
  unit.reason =
      "Temperatur [\xC2\xB0"
      "C]; beam 3";
  unit.flash = "ok";
  unit.selfTest = "failed: " + unit.reason;
  EXPECT_EQ(LogLine(unit, LogFormat::Csv),
            "2026-12-06 21:00:00,/dev/pts/3,\"TG5 \"\"Licht\"\", SN 1\",\"[4, 2]\",failed,selftest,"
            "\"Temperatur [\xC2\xB0"
            "C]; beam 3\",ok,$(maxdef)=3,\"1-10;20\","
            "\"failed: Temperatur [\xC2\xB0"
            "C]; beam 3\",2.3");
  auto json = nlohmann::json::parse(LogLine(unit, LogFormat::JsonLines));
  EXPECT_EQ(json["flash"], "ok");
  EXPECT_EQ(json["selftest"],
            "failed: Temperatur [\xC2\xB0"
            "C]; beam 3");
}

// A self-test evaluated on a small rule table: version, two values, beam base and four beams.
std::string Verdict(const std::vector<uint8_t>& block, std::string* failures = nullptr) {
  MessageRecorder messages;
  ScopedMessageSink sink(&messages);
  std::istringstream rules(
      "0, -1, 0, 2, \"Version\", 2, 3,\n"
      "0, 1, ~, 1, \"Supply\", 100, 200, \"psu\"\n"
      "0, 2, ~, 1, \"Temperatur [\xB0"
      "C]\", 0, 70,\n"
      "0, -3, ~, 1, \"Base\", 0, 40,\n"
      "0, -4, ~, 4, \"Beams\", 60, 250, \"dirty?\"\n");
  LimitTable table;
  table.SetDeviceType(kLightCurtain);
  if (!table.Read(rules)) return "rules not read";
  LimitRulesAdapter adapter(table);
  if (!adapter.CheckVersion(2) || adapter.PrepareBlockLength() != 7) return "layout";
  BeamValues beams;
  EvaluateSelfTest(table, block, beams, nullptr);
  if (failures != nullptr) *failures = SelfTestFailures(table, beams);
  return SelfTestVerdict(table, beams);
}

TEST(UnitLog, SelfTestVerdictNamesTheFailingRulesAndBeams) {
  std::string failures = "not set";
  EXPECT_EQ(Verdict({150, 20, 10, 120, 120, 120, 120}, &failures), "passed");
  EXPECT_EQ(failures, "");
  EXPECT_EQ(Verdict({150, 90, 10, 120, 120, 120, 120}),
            "failed: Temperatur [\xC2\xB0"
            "C]");
  EXPECT_EQ(Verdict({240, 20, 10, 120, 120, 50, 255}, &failures),
            "failed: Supply; Beams; beam 3; beam 4");
  EXPECT_EQ(failures, "Supply; Beams; beam 3; beam 4");

  LimitTable empty;
  EXPECT_EQ(SelfTestVerdict(empty, BeamValues{}), "failed");
}

TEST(UnitLog, SummaryCountsFailuresByReasonAndNeverAsPassed) {
  LineTotals totals;
  EXPECT_EQ(LineSummary(totals), "units 0, passed 0, failed 0, mean 0.0 s per unit\n");
  totals.Add(SampleUnit(true));
  totals.Add(SampleUnit(false));
  totals.Add(SampleUnit(false));
  UnitRecord verify = SampleUnit(false);
  verify.step = "verify";
  verify.reason = "Maxdefect: written 3, read back 2";
  totals.Add(verify);
  EXPECT_EQ(totals.units, 4);
  EXPECT_EQ(totals.passed, 1);
  EXPECT_EQ(LineSummary(totals),
            "units 4, passed 1, failed 3, mean 2.3 s per unit\n"
            "  failed 1 x verify: Maxdefect: written 3, read back 2\n"
            "  failed 2 x write: page 4\n");
}

}  // namespace
}  // namespace lumo::cli
