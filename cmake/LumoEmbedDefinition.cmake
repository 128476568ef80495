# lumo_embed_definition(TARGET): the program TARGET carries the reference definition
# (LUMO_EMBEDDED_DEFINITION, set in definitions/) at its end, after every link and in its
# installed copy (after the install's strip). A later strip may drop it: the same text is
# compiled in as well (definitions/builtin_definition.h).
include(GNUInstallDirs)
if(LUMO_INSTALL_LAYOUT STREQUAL "portable")
  set(LUMO_INSTALL_BINDIR .)
else()
  set(LUMO_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
endif()
set(_lumo_embed_script "${CMAKE_CURRENT_LIST_DIR}/EmbedDefinition.cmake")

function(lumo_embed_definition target)
  add_dependencies(${target} lumokonf-embed)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:lumokonf-embed> -DPROGRAM=$<TARGET_FILE:${target}>
            -DDEFINITION=${LUMO_EMBEDDED_DEFINITION} -P ${_lumo_embed_script}
    COMMENT "Embedding the device definition into ${target}"
    VERBATIM)
  # Relink (and so embed again) when the definition changes.
  if(EXISTS "${LUMO_EMBEDDED_DEFINITION}")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${LUMO_EMBEDDED_DEFINITION}")
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${LUMO_INSTALL_BINDIR})
  # Runs after the install rule above, so after its strip.
  install(CODE "
    set(TOOL \"$<TARGET_FILE:lumokonf-embed>\")
    set(PROGRAM \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${LUMO_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${target}>\")
    set(DEFINITION \"${LUMO_EMBEDDED_DEFINITION}\")
    include(\"${_lumo_embed_script}\")
  ")
endfunction()
