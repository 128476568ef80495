// The fixture of the tests that run a link against a simulated device: every notification kept
// (LinkEvents), message boxes recorded, texts in one language, and no simulated device of an
// earlier test left behind. The link is stopped before anything a test added is destroyed.
// Base: ::testing::Test, or ::testing::TestWithParam<T> for a parameterised suite.
#pragma once

#include <gtest/gtest.h>

#include "base/translations.h"
#include "link/dut_link.h"
#include "platform/message_box.h"
#include "sim/sim_port.h"
#include "tests/support/link_events.h"

namespace lumo::test {

template <typename Base = ::testing::Test>
class SimLinkTest : public Base {
 protected:
  explicit SimLinkTest(LangId language = kLangEnglish) : language_(language) {}

  void SetUp() override {
    SelectLanguage(language_);
    sim::ForgetSimulatedDevices();
    config_.echo = false;
  }
  void TearDown() override {
    link_.StopLink();
    sim::ForgetSimulatedDevices();
  }

  MessageRecorder messages_;
  ScopedMessageSink scopedSink_{&messages_};
  LinkEvents events_;
  LinkConfig config_;
  DutLink link_;

 private:
  LangId language_;
};

}  // namespace lumo::test
