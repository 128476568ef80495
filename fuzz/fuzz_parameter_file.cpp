// Fuzz target: the parameter file reader against both reference definitions.
//
// The first input byte chooses the definition (bit 0), the AutoCopyConf setting (bit 1) and
// whether a question about the beam line is answered Yes (bit 2); the rest is the file.
#include <fstream>
#include <sstream>

#include "definitions/definition.h"
#include "files/parameter_file.h"
#include "fuzz/fuzz_support.h"
#include "platform/message_box.h"

namespace {

struct Reference {
  std::unique_ptr<lumo::ParDef> def;
  std::vector<lumo::PVar> pristine;  // the records as parsed, restored before every input
};

Reference Load(const char* name) {
  Reference ref;
  std::ifstream in(std::string(LUMO_EXAMPLES_DIR) + "/" + name, std::ios::binary);
  ref.def = lumo::ParseDefinition(in);
  if (ref.def == nullptr) __builtin_trap();  // the examples must parse
  ref.pristine = ref.def->records;
  return ref;
}

// Answers every question with a fixed answer, drops every notice.
class FixedAnswer : public lumo::MessageSink {
 public:
  lumo::MsgAnswer Show(const lumo::MessageBoxRequest& request) override {
    return lumo::IsQuestion(request.kind) ? answer : lumo::MsgAnswer::Ok;
  }
  lumo::MsgAnswer answer = lumo::MsgAnswer::No;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Reference references[2] = {Load("TG5.txt"), Load("Jovix.txt")};
  static FixedAnswer sink;
  static lumo::MessageSink* installed = lumo::SetMessageSink(&sink);
  (void)installed;
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  Reference& ref = references[flags & 1];
  ref.def->records = ref.pristine;
  sink.answer = (flags & 4) != 0 ? lumo::MsgAnswer::Yes : lumo::MsgAnswer::No;

  int deviceType = (flags & 1) == 0 ? 1 : 2;
  lumo::BeamStates beams{};
  beams.fill(lumo::kBeamActive);
  lumo::ParameterFileTarget target{ref.def.get(), &deviceType, (flags & 2) != 0, &beams};
  std::istringstream in(lumo::fuzz::AsText(data + 1, size - 1));
  (void)lumo::ReadParameterFile(target, in);
  return 0;
}
