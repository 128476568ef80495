#include "app/save_failure.h"

#include <cstring>

#include "app/translations.h"

namespace lumo {

namespace {

// "%s" of a translated text replaced by `arg`.
std::string Filled(const char* format, const std::string& arg) {
  std::string text = format != nullptr ? format : "";
  size_t mark = text.find("%s");
  if (mark != std::string::npos) text.replace(mark, 2, arg);
  return text;
}

}  // namespace

std::string SaveFailureText(const char* headMsgId, const ReplaceResult& result) {
  std::string text = MsgText(headMsgId);
  switch (result.error) {
    case ReplaceError::None:
      return text;
    case ReplaceError::FolderNotWritable:
      return text + "\n" + Filled(MsgText("ERRSAVE_FOLDER"), PathForText(result.folder));
    case ReplaceError::CannotCreate:
      // The temporary file is made in the folder: a missing folder is the reason to name.
      return text + "\n" + PathForText(result.folder) + ": " + std::strerror(result.savedErrno);
    case ReplaceError::WriteFailed:
    case ReplaceError::SyncFailed:
    case ReplaceError::RenameFailed:
      break;
  }
  return text + "\n" + PathForText(result.target) + ": " + std::strerror(result.savedErrno);
}

}  // namespace lumo
