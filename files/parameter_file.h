// Parameter files: a set of parameter values outside the device.
//
// A file is text, one "name = value" per line (written with CR LF; a lone LF reads too), in
// Windows-1252. Writing takes the Edit values of the parameter list; reading fills only the File
// values and their valid flags (and, when the user agrees, the beam states): loading never
// changes Edit values or the page images. A UTF-8 byte order mark before the first line is
// skipped. Every file names its device type in a "[DUT]" line; a file without one is accepted
// only when the definition has no "[DUT]" record either (such files were saved before the line
// was always written). A beam line that is not a range text changes no beam: the reader says so
// and reports it in BeamLineState.
//
//   WriteParameterFile   the lines of a file into a stream
//   ReadParameterFile    a stream into the File column; false when the file is refused
//   SaveParameterFile    WriteParameterFile into a file, replaced whole (ReplaceFile)
//   LoadParameterFile    ReadParameterFile from a file, with the open error message
//
// Messages go through the message sink (platform/message_box.h) with the texts and captions
// of the translation tables.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "definitions/pardef.h"
#include "files/beam_config.h"
#include "platform/text.h"  // FillText for the file's messages

namespace lumo {

// The file's beam line as the last read found it.
enum class BeamLineState {
  None,        // no beam line read (none in the file, or ignored with AutoCopyConf)
  Read,        // a well-formed range text (adopted when the user agreed)
  Unreadable,  // not a range text: the beams were kept and the user was told
};

// A line of a file that sets no value, or a value the record cannot hold.
struct ParameterFileProblem {
  enum class Kind {
    UnknownName,   // no parameter of that name (or a bracketed one)
    UnknownState,  // the record has states, none of that name
    NotANumber,    // the record takes a number, the value is none
    OutOfRange,    // a number the record's field or limits cannot hold (its File value is set)
  };
  Kind kind = Kind::UnknownName;
  int line = 0;            // counted from 1
  std::string name;        // as written in the file
  std::string value;       // as written in the file
  PVar* record = nullptr;  // the record the name found (nullptr for UnknownName)
};

// The problem in words: "unknown parameter name", "no such state", ... (English, for logs).
const char* ProblemText(ParameterFileProblem::Kind kind);

// What reading a file may change besides the File values.
struct ParameterFileTarget {
  ParDef* list = nullptr;
  int* deviceType = nullptr;          // the program's device type; -1 becomes 1 after a read
  bool autoCopyConf = true;           // setting AutoCopyConf: a beam line is then ignored
  BeamStates* beams = nullptr;        // the beam states, for a beam line the user adopts
  BeamLineState* beamLine = nullptr;  // optional: what became of the beam line
  // Optional: every line that sets no value, or a value out of range, in file order. When it is
  // given, those lines are reported here instead of one message each.
  std::vector<ParameterFileProblem>* problems = nullptr;
};

// Writes "[DUT]" (the definition's value, or the device type's name when the definition has
// none), the beam line (device type 1) and the parameters in reverse list order. False as soon
// as a write fails.
bool WriteParameterFile(const ParDef* list, int deviceType, const std::string& beamText,
                        std::ostream& out);

bool ReadParameterFile(const ParameterFileTarget& target, std::istream& in);

// Saves through ReplaceFile (platform/file_system.h): the old file is replaced only when every
// byte was written, a link stays a link; on failure the old file is left as it was and
// "ERRKFG_SAVE" is shown with the reason.
bool SaveParameterFile(const std::string& path, const ParDef* list, int deviceType,
                       const std::string& beamText);

// Opens and reads a file; "ERRKFG_OPEN" when it cannot be opened.
bool LoadParameterFile(const std::string& path, const ParameterFileTarget& target);

}  // namespace lumo
