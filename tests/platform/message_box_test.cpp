#include "platform/message_box.h"

#include <gtest/gtest.h>

namespace lumo {
namespace {

TEST(MessageBox, WithoutSinkQuestionsGetNoAndNoticesOk) {
  ScopedMessageSink none(nullptr);
  EXPECT_EQ(ShowMessage(MsgKind::Question, "q", "c"), MsgAnswer::No);
  EXPECT_EQ(ShowMessage(MsgKind::Offer, "q", "c"), MsgAnswer::No);
  EXPECT_EQ(ShowMessage(MsgKind::Error, "e", "c"), MsgAnswer::Ok);
}

TEST(MessageBox, RecorderKeepsBoxesAndAnswersInOrder) {
  MessageRecorder recorder;
  ScopedMessageSink scoped(&recorder);
  recorder.QueueAnswer(MsgAnswer::Yes);
  EXPECT_EQ(ShowMessage(MsgKind::Warning, "w", "cap", MsgOwner::Desktop), MsgAnswer::Ok);
  EXPECT_EQ(ShowMessage(MsgKind::Question, "q1", "cap"), MsgAnswer::Yes);
  EXPECT_EQ(ShowMessage(MsgKind::Question, "q2", "cap"), MsgAnswer::No);
  auto boxes = recorder.Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].owner, MsgOwner::Desktop);
  EXPECT_EQ(boxes[0].caption, "cap");
  EXPECT_EQ(boxes[2].text, "q2");
}

TEST(MessageBox, ScopedSinkRestoresThePreviousOne) {
  MessageRecorder outer, inner;
  ScopedMessageSink a(&outer);
  {
    ScopedMessageSink b(&inner);
    ShowMessage(MsgKind::Plain, "inner", "c");
  }
  ShowMessage(MsgKind::Plain, "outer", "c");
  ASSERT_EQ(inner.Boxes().size(), 1u);
  ASSERT_EQ(outer.Boxes().size(), 1u);
  EXPECT_EQ(outer.Boxes()[0].text, "outer");
}

}  // namespace
}  // namespace lumo
