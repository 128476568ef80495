#include "platform/message_box.h"

#include <atomic>

namespace lumo {

namespace {
std::atomic<MessageSink*> g_sink{nullptr};
}  // namespace

bool IsQuestion(MsgKind kind) {
  switch (kind) {
    case MsgKind::Question:
    case MsgKind::Offer:
    case MsgKind::ScreenSize:
      return true;
    case MsgKind::Error:
    case MsgKind::Warning:
    case MsgKind::Information:
    case MsgKind::Plain:
      return false;
  }
  return false;
}

MsgAnswer DefaultAnswer(MsgKind kind) {
  return IsQuestion(kind) ? MsgAnswer::No : MsgAnswer::Ok;
}

MessageSink* SetMessageSink(MessageSink* sink) {
  return g_sink.exchange(sink);
}

MsgAnswer ShowMessage(MsgKind kind, const std::string& text, const std::string& caption,
                      MsgOwner owner) {
  MessageSink* sink = g_sink.load();
  if (sink == nullptr) return DefaultAnswer(kind);
  return sink->Show(MessageBoxRequest{kind, owner, text, caption});
}

MsgAnswer MessageRecorder::Show(const MessageBoxRequest& request) {
  std::lock_guard lock(mutex_);
  boxes_.push_back(request);
  if (IsQuestion(request.kind) && !answers_.empty()) {
    MsgAnswer answer = answers_.front();
    answers_.erase(answers_.begin());
    return answer;
  }
  return DefaultAnswer(request.kind);
}

void MessageRecorder::QueueAnswer(MsgAnswer answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(answer);
}

std::vector<MessageBoxRequest> MessageRecorder::Boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

MsgAnswer ScopedMessageNote::Show(const MessageBoxRequest& request) {
  if (previous_ == nullptr) return DefaultAnswer(request.kind);
  MessageBoxRequest noted = request;
  noted.text += "\n" + note_;
  return previous_->Show(noted);
}

void MessageRecorder::Clear() {
  std::lock_guard lock(mutex_);
  boxes_.clear();
  answers_.clear();
}

}  // namespace lumo
