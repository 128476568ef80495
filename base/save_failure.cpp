#include "base/save_failure.h"

#include <cstring>

#include "base/translations.h"
#include "platform/text.h"

namespace lumo {

std::string SaveFailureText(const char* headMsgId, const ReplaceResult& result) {
  std::string text = MsgText(headMsgId);
  switch (result.error) {
    case ReplaceError::None:
      return text;
    case ReplaceError::FolderNotWritable:
      return text + "\n" + FillText(MsgText("ERRSAVE_FOLDER"), {PathForText(result.folder)});
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
