// The line trace: its line format, and a trace of a real read of the simulated light curtain.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "link/dut_link.h"
#include "link/line_trace.h"
#include "platform/message_box.h"
#include "sim/sim_port.h"
#include "tests/support/link_events.h"
#include "tests/support/temp_dir.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;
using test::TempDir;

// The part of a trace line after its time stamp.
std::string Body(TraceKind kind, const std::string& data) {
  std::string line = FormatTraceLine(TraceRecord{kind, 0, data});
  return line.substr(line.find("  ") + 2);
}

TEST(TraceLine, ShowsDirectionHexAndText) {
  const std::string pad16 = std::string(13 * 3, ' ');  // 16 columns, 3 bytes used
  EXPECT_EQ(Body(TraceKind::Sent, "r\x04\x7F"), "TX  72 04 7F " + pad16 + "|r..|");
  EXPECT_EQ(Body(TraceKind::Received, "!"), "RX  21 " + std::string(15 * 3, ' ') + "|!|");
  EXPECT_EQ(Body(TraceKind::Event, "DN_READY 0"), "--  DN_READY 0");
  // The stamp: date, time and milliseconds, then the body.
  std::string line = FormatTraceLine(TraceRecord{TraceKind::Event, 1234567890123, "x"});
  ASSERT_EQ(line.size(), 30u) << line;
  EXPECT_EQ(line[4], '-');
  EXPECT_EQ(line[10], ' ');
  EXPECT_EQ(line.substr(19), ".123  --  x");
}

// The position of text at or after from; npos when from is npos or the text is absent.
size_t Find(const std::string& trace, const std::string& text, size_t from = 0) {
  return from == std::string::npos ? from : trace.find(text, from);
}

TEST(LinkTraceFile, ShowsTheWakeUpAndThePageReadsInOrder) {
  MessageRecorder messages;
  ScopedMessageSink scoped(&messages);
  sim::ForgetSimulatedDevices();
  sim::PrepareSimulatedDevice("SIM:TG5", sim::DefaultOptions(sim::DeviceKind::Tg5));
  TempDir dir;
  const std::string path = dir / "line.trace";
  {
    DutLink link;
    link.SetResetLimit(5000);
    int err = -1;
    ASSERT_TRUE(StartLinkTrace(link, path, err));
    EXPECT_EQ(err, 0);
    EXPECT_EQ(LinkTraceFile(), path);
    test::LinkEvents events;
    LinkConfig config;
    config.powerOnDelayMs = 0;
    config.echo = false;
    ASSERT_TRUE(link.StartLink("SIM:TG5", &events, config));
    ASSERT_TRUE(events.Saw(DN_READY));
    link.StopLink();
    StopLinkTrace(link);
    EXPECT_EQ(LinkTraceFile(), "");
    EXPECT_EQ(link.Port().Tap(), nullptr);
  }
  sim::ForgetSimulatedDevices();
  const std::string trace = ReadFile(path);

  size_t dtr = Find(trace, "--  DTR on");
  size_t prompt = Find(trace, "RX  21 ", dtr);
  size_t wake = Find(trace, "TX  20 20 20 20 20 20 20 20 20 20 ", prompt);
  size_t found = Find(trace, "--  DN_FOUND", wake);
  ASSERT_NE(dtr, std::string::npos) << trace;
  ASSERT_NE(prompt, std::string::npos) << trace;
  ASSERT_NE(wake, std::string::npos) << trace;
  ASSERT_NE(found, std::string::npos) << trace;
  // Pages 4 down to 0, each request followed by its data before the next one.
  size_t at = found;
  for (int page = 4; page >= 0; --page) {
    at = Find(trace, "TX  72 0" + std::to_string(page) + " ", at);
    ASSERT_NE(at, std::string::npos) << "page " << page << "\n" << trace;
    ASSERT_NE(Find(trace, "RX  ", at), std::string::npos);
  }
  EXPECT_NE(Find(trace, "--  DN_READDONE -1", at), std::string::npos) << trace;
  EXPECT_NE(Find(trace, "--  close", at), std::string::npos) << trace;
}

TEST(LinkTraceFile, ReportsAFileThatCannotBeCreated) {
  DutLink link;
  int err = 0;
  EXPECT_FALSE(StartLinkTrace(link, "/nonexistent-folder/x.trace", err));
  EXPECT_EQ(err, ENOENT);
  EXPECT_EQ(link.Port().Tap(), nullptr);
}

// Many short writes from another thread all arrive, merged into lines of at most 16 bytes.
TEST(LinkTraceFile, KeepsEveryByteWhileTheWriterRuns) {
  TempDir dir;
  LineTrace trace;
  int err = 0;
  ASSERT_TRUE(trace.Start(dir / "t.trace", err));
  const int kCount = 5000;
  for (int i = 0; i < kCount; ++i) {
    uint8_t byte = static_cast<uint8_t>('A' + i % 26);
    trace.Sent(&byte, 1);
  }
  trace.Stop();
  trace.Sent(reinterpret_cast<const uint8_t*>("Z"), 1);  // after the stop: dropped
  EXPECT_EQ(trace.Dropped(), 0u);
  std::istringstream lines(ReadFile(dir / "t.trace"));
  std::string line;
  size_t bytes = 0;
  while (std::getline(lines, line)) {
    if (line.find("  TX  ") == std::string::npos) continue;
    std::string text = line.substr(line.find('|') + 1);
    text.pop_back();
    EXPECT_LE(text.size(), kTraceBytesPerLine);
    bytes += text.size();
  }
  EXPECT_EQ(bytes, static_cast<size_t>(kCount));
}

}  // namespace
}  // namespace lumo
