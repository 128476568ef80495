// The record of a job on the device the link talks to, as both front ends make it.
//
// State model: none; reads the link's identity, firmware word and page images (copied out under
// the link's lock), and the self-test's evaluated table. Call on the user interface thread after
// the job's outcome is known; the result goes to the recorder.
//
//   LinkJobRecord     id, time, port, type, identity, firmware, images before/after, checksum
//   AddSelfTestResult the verdict and every shown value (rules, beams, restart time)
#pragma once

#include "definitions/pardef.h"
#include "history/history_record.h"

namespace lumo {

class DutLink;
class LimitTable;
struct BeamValues;

// before: the device image the job began with (nullptr: not read). The "after" image is taken
// only when the link holds a valid read.
HistoryRecord LinkJobRecord(DutLink& link, int deviceType, HistoryJob job, const PageImage* before);

void AddSelfTestResult(HistoryRecord& record, const LimitTable& table, const BeamValues& beams);

std::vector<uint8_t> PageBytes(const PageImage& image);

}  // namespace lumo
