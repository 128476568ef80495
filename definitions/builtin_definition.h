// The reference definition compiled into the program.
//
// State: none. The text of the definition chosen at build time (LUMO_EMBEDDED_DEFINITION,
// examples/TG5.txt by default), compiled in: the definition of last resort. The same text is
// also appended to the program file (definitions/embedded.h), where appdef's copies carry theirs;
// a packager's strip or objcopy may drop an appended text, never this one.
//
//   BuiltInDefinitionText   the text (empty when the build had none)
#pragma once

#include <string_view>

namespace lumo {

std::string_view BuiltInDefinitionText();

}  // namespace lumo
