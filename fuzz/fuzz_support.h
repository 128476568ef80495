// Shared helpers of the fuzz targets.
//
// Every target defines LLVMFuzzerTestOneInput. The same sources are linked either with
// libFuzzer (fuzz/run, clang) or with replay_main.cpp (the test run replays the committed
// corpora with the normal compiler).
//
//   AsText        the input as a NUL-terminated text (the readers' texts end at NUL)
//   ScratchFile   a file of this process that holds the input, for readers that take a path
//   SilentMessages  drops every message box (questions answered with their default)
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/message_box.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace lumo::fuzz {

inline std::string AsText(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// One file per process, rewritten for every input; removed when the process ends.
class ScratchFile {
 public:
  explicit ScratchFile(const char* stem, const char* suffix = ".ini") {
    const char* dir = getenv("TMPDIR");
    path_ = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/" + stem + "-" +
            std::to_string(getpid()) + suffix;
  }
  ~ScratchFile() { unlink(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // False when the file could not be written whole.
  bool Write(const uint8_t* data, size_t size) const {
    int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < size) {
      ssize_t n = write(fd, data + done, size - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(fd);
    return done == size;
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Installed for the life of the process: readers show their failures, which no one sees here.
class SilentMessages : public MessageSink {
 public:
  SilentMessages() { SetMessageSink(this); }
  MsgAnswer Show(const MessageBoxRequest& request) override { return DefaultAnswer(request.kind); }
};

}  // namespace lumo::fuzz
