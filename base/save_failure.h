// The message shown when a file could not be saved: what failed, then why.
//
// State: none. The reason comes from the result of ReplaceFile (platform/file_system.h): a folder
// without write permission is named as such, any other failure names the file and the system's
// reason. Paths are shown in Windows-1252 like every text of a message.
//
//   SaveFailureText   the message of `headMsgId` followed by the reason
#pragma once

#include <string>

#include "platform/file_system.h"

namespace lumo {

std::string SaveFailureText(const char* headMsgId, const ReplaceResult& result);

}  // namespace lumo
