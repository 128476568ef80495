// lumokonf-embed PROGRAM DEFINITION: embeds the definition file into the program file, replacing
// the definition the program carries. Used after linking and after installing, so that a built,
// stripped or installed program carries its definition. Exit 0 on success, 1 on failure
// (the reason on standard error), 2 on wrong usage.
#include <cstdio>
#include <string>

#include "files/new_configurator.h"
#include "platform/message_box.h"

namespace {

class StderrSink : public lumo::MessageSink {
 public:
  lumo::MsgAnswer Show(const lumo::MessageBoxRequest& request) override {
    std::fprintf(stderr, "lumokonf-embed: %s\n", request.text.c_str());
    return lumo::DefaultAnswer(request.kind);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: lumokonf-embed PROGRAM DEFINITION\n");
    return 2;
  }
  StderrSink sink;
  lumo::ScopedMessageSink scoped(&sink);
  const std::string program = argv[1];
  return lumo::WriteNewConfiguratorFrom(program, program, argv[2]) ? 0 : 1;
}
