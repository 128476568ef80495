// Message boxes and questions raised by the core.
//
// The core never prints and never draws. Every message a user must see goes through one
// installed MessageSink: the desktop program installs one that shows a Qt message box, the
// command line one that writes to standard error and answers questions with a stated default,
// and tests install a recorder. With no sink installed, messages are dropped and questions get
// their default answer.
//
// Texts and captions are Windows-1252 bytes, already translated and formatted by the caller.
//
//   ShowMessage      show one box and return the button pressed
//   SetMessageSink   install a sink (nullptr: none); returns the previous one
//   MessageRecorder  a sink that keeps every box, for tests and headless callers
//   ScopedMessageNote  adds a line to every box shown while it lives (e.g. the file in use)
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace lumo {

// The kinds of box the program shows, each with its fixed buttons and icon.
enum class MsgKind {
  Error,        // Ok, stop icon, on top
  Warning,      // Ok, exclamation icon, on top
  Information,  // Ok, information icon, on top
  Question,     // Yes and No, question icon, on top
  Offer,        // Yes and No, stop icon, on top (an offer after a fault)
  Plain,        // Ok, no icon, on top
  ScreenSize,   // Yes and No, no icon, not on top
};

// Who owns the box: the main window, or the desktop (before the main window exists, or for
// boxes independent of it).
enum class MsgOwner { MainWindow, Desktop };

enum class MsgAnswer { Ok, Yes, No };

struct MessageBoxRequest {
  MsgKind kind;
  MsgOwner owner;
  std::string text;
  std::string caption;
};

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual MsgAnswer Show(const MessageBoxRequest& request) = 0;
};

// The answer a box gets when nobody can answer: Ok for notices, No for questions and offers.
MsgAnswer DefaultAnswer(MsgKind kind);

// True for the kinds that ask Yes or No.
bool IsQuestion(MsgKind kind);

MessageSink* SetMessageSink(MessageSink* sink);

MsgAnswer ShowMessage(MsgKind kind, const std::string& text, const std::string& caption,
                      MsgOwner owner = MsgOwner::MainWindow);

// Keeps every request; answers questions with the answers queued by the test, else the default.
// Safe to use from several threads.
class MessageRecorder : public MessageSink {
 public:
  MsgAnswer Show(const MessageBoxRequest& request) override;
  void QueueAnswer(MsgAnswer answer);
  std::vector<MessageBoxRequest> Boxes() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<MessageBoxRequest> boxes_;
  std::vector<MsgAnswer> answers_;
};

// Installs a sink for the lifetime of the object and restores the previous one afterwards.
class ScopedMessageSink {
 public:
  explicit ScopedMessageSink(MessageSink* sink) : previous_(SetMessageSink(sink)) {}
  ~ScopedMessageSink() { SetMessageSink(previous_); }
  ScopedMessageSink(const ScopedMessageSink&) = delete;
  ScopedMessageSink& operator=(const ScopedMessageSink&) = delete;

 private:
  MessageSink* previous_;
};

// Passes every box on to the sink installed before it, with `note` added as a last line, while
// it lives; an empty note changes nothing. Installed and removed on the same thread, around work
// whose messages belong to one file.
class ScopedMessageNote : public MessageSink {
 public:
  explicit ScopedMessageNote(std::string note)
      : note_(std::move(note)), previous_(note_.empty() ? nullptr : SetMessageSink(this)) {}
  ~ScopedMessageNote() override {
    if (!note_.empty()) SetMessageSink(previous_);
  }
  ScopedMessageNote(const ScopedMessageNote&) = delete;
  ScopedMessageNote& operator=(const ScopedMessageNote&) = delete;
  MsgAnswer Show(const MessageBoxRequest& request) override;

 private:
  std::string note_;
  MessageSink* previous_;
};

}  // namespace lumo
