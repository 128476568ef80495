// Records to rows and back, the same for every database.
#include <limits>

#include "history/history_schema.h"

namespace lumo::history_schema {

namespace {

Cell Text(const std::string& text) {
  Cell cell;
  cell.text = text;
  return cell;
}

Cell Number(int64_t number) {
  Cell cell;
  cell.number = number;
  return cell;
}

Cell Blob(const std::vector<uint8_t>& bytes) {
  Cell cell;
  cell.null = bytes.empty();
  cell.text.assign(bytes.begin(), bytes.end());
  return cell;
}

}  // namespace

std::vector<Cell> RecordCells(const HistoryRecord& r) {
  return {Text(r.id),
          Text(r.timeUtc),
          Text(r.station),
          Text(r.operatorName),
          Text(r.programVersion),
          Text(r.port),
          Number(r.deviceType),
          Text(r.identity),
          Text(r.serial),
          Number(r.firmware[0]),
          Number(r.firmware[1]),
          Text(JobText(r.job)),
          Blob(r.pagesBefore),
          Blob(r.pagesAfter),
          Number(r.reportCrc),
          Text(r.fileName),
          Number(r.fileCrc),
          Text(OutcomeText(r.outcome)),
          Number(r.failedPage),
          Text(r.reason),
          Text(r.selfTestVerdict),
          Text(NamedValuesText(r.selfTestValues))};
}

bool RecordFromCells(const std::vector<Cell>& cells, HistoryRecord* r, std::string* why) {
  if (cells.size() != static_cast<size_t>(kColumnCount)) {
    *why = "wrong number of columns";
    return false;
  }
  for (size_t i = 0; i < cells.size(); ++i) {
    if (cells[i].text.size() > kHistoryTextLimit) {
      *why = std::string("column ") + kHistoryColumns[i].name + " is too long";
      return false;
    }
  }
  auto text = [&](size_t i) { return cells[i].null ? std::string() : cells[i].text; };
  auto number = [&](size_t i, int64_t low, int64_t high, int64_t* out) {
    if (cells[i].null || cells[i].number < low || cells[i].number > high) {
      *why = std::string("column ") + kHistoryColumns[i].name + " holds no valid number";
      return false;
    }
    *out = cells[i].number;
    return true;
  };
  auto pages = [&](size_t i, std::vector<uint8_t>* out) {
    out->clear();
    if (cells[i].null || cells[i].text.empty()) return true;
    if (cells[i].text.size() != kHistoryPageBytes) {
      *why = std::string("column ") + kHistoryColumns[i].name + " is no page image";
      return false;
    }
    out->assign(cells[i].text.begin(), cells[i].text.end());
    return true;
  };
  int64_t deviceType, fwMain, fwMinor, reportCrc, fileCrc, failedPage;
  constexpr int64_t kMaxCrc = std::numeric_limits<uint32_t>::max();
  if (!number(6, 0, 255, &deviceType) || !number(9, 0, 255, &fwMain) ||
      !number(10, 0, 255, &fwMinor) || !number(14, 0, kMaxCrc, &reportCrc) ||
      !number(16, 0, kMaxCrc, &fileCrc) || !number(18, -1, 255, &failedPage))
    return false;
  auto job = JobFromText(text(11));
  auto outcome = OutcomeFromText(text(17));
  if (!job || !outcome) {
    *why = !job ? "unknown job '" + text(11).substr(0, 40) + "'"
                : "unknown outcome '" + text(17).substr(0, 40) + "'";
    return false;
  }
  HistoryRecord record;
  record.id = text(0);
  record.timeUtc = text(1);
  record.station = text(2);
  record.operatorName = text(3);
  record.programVersion = text(4);
  record.port = text(5);
  record.deviceType = static_cast<int>(deviceType);
  record.identity = text(7);
  record.serial = text(8);
  record.firmware[0] = static_cast<int>(fwMain);
  record.firmware[1] = static_cast<int>(fwMinor);
  record.job = *job;
  if (!pages(12, &record.pagesBefore) || !pages(13, &record.pagesAfter)) return false;
  record.reportCrc = static_cast<uint32_t>(reportCrc);
  record.fileName = text(15);
  record.fileCrc = static_cast<uint32_t>(fileCrc);
  record.outcome = *outcome;
  record.failedPage = static_cast<int>(failedPage);
  record.reason = text(19);
  record.selfTestVerdict = text(20);
  record.selfTestValues = NamedValuesFromText(text(21));
  *r = std::move(record);
  return true;
}

}  // namespace lumo::history_schema
