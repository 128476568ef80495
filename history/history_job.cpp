#include "history/history_job.h"

#include "files/page_checksum.h"
#include "link/dut_link.h"
#include "platform/cp1252.h"
#include "selftest/selftest.h"

namespace lumo {

namespace {

// The parameter pages the configuration report's checksum covers.
constexpr int kLastParameterPage = 4;

}  // namespace

std::vector<uint8_t> PageBytes(const PageImage& image) {
  const uint8_t* bytes = &image.bytes[0][0];
  return std::vector<uint8_t>(bytes, bytes + sizeof image.bytes);
}

HistoryRecord LinkJobRecord(DutLink& link, int deviceType, HistoryJob job,
                            const PageImage* before) {
  HistoryRecord record;
  record.id = NewRecordId();
  record.timeUtc = UtcTimeText();
  record.job = job;
  record.port = link.PortName();
  record.deviceType = deviceType;
  record.identity = Cp1252ToUtf8(link.Identity());
  const auto firmware = link.FirmwareWord();
  record.firmware[0] = firmware[0];
  record.firmware[1] = firmware[1];
  if (before != nullptr) record.pagesBefore = PageBytes(*before);
  if (link.ConfigValid()) {
    const PageImage image = link.CopyDeviceImage();
    record.pagesAfter = PageBytes(image);
    std::vector<int> lengths(kLastParameterPage + 1, -1);
    for (int p = 0; p <= kLastParameterPage; ++p)
      lengths[static_cast<size_t>(p)] = link.PageLength(p);
    record.reportCrc = PagesChecksum(image, lengths);
  }
  return record;
}

void AddSelfTestResult(HistoryRecord& record, const LimitTable& table, const BeamValues& beams) {
  const bool passed = SelfTestPassed(table, beams);
  std::string failures;
  for (const LimitRule* rule : ShownRules(table)) {
    const std::string name = Cp1252ToUtf8(rule->description);
    record.selfTestValues.emplace_back(name, Cp1252ToUtf8(RuleCellText(table, *rule, 1)));
    if (!rule->passed) failures += (failures.empty() ? "" : "; ") + name;
  }
  for (const BeamRow& row : BeamRows(table, beams)) {
    for (const BeamCell& cell : row.cells) {
      if (!cell.present) continue;
      const std::string name = "beam " + std::to_string(cell.beam + 1);
      record.selfTestValues.emplace_back(
          name, cell.text.empty() ? std::to_string(cell.value) : Cp1252ToUtf8(cell.text));
      if (!cell.passed) failures += (failures.empty() ? "" : "; ") + name;
    }
  }
  if (const LimitRule* reset = ResetRule(table); reset != nullptr)
    record.selfTestValues.emplace_back("restart ms", std::to_string(reset->value));
  record.selfTestVerdict = passed ? "passed" : failures.empty() ? "failed" : "failed: " + failures;
  record.outcome = passed ? HistoryOutcome::Done : HistoryOutcome::Failed;
  if (!passed) record.reason = record.selfTestVerdict;
}

}  // namespace lumo
