# Embeds a device definition into a program file (run with -P, or included from install code).
# Variables: TOOL (the lumokonf-embed program), PROGRAM, DEFINITION.
# A missing definition file is skipped with a message; the program then carries none.
if(NOT EXISTS "${DEFINITION}")
  message(STATUS "No device definition ${DEFINITION}: ${PROGRAM} carries no embedded definition")
  return()
endif()
if(NOT EXISTS "${PROGRAM}")
  message(FATAL_ERROR "Cannot embed a definition: ${PROGRAM} does not exist")
endif()
execute_process(COMMAND "${TOOL}" "${PROGRAM}" "${DEFINITION}" RESULT_VARIABLE _lumo_embed_result)
if(NOT _lumo_embed_result EQUAL 0)
  message(FATAL_ERROR "Embedding ${DEFINITION} into ${PROGRAM} failed (${_lumo_embed_result})")
endif()
