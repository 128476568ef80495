# Writes the manual page and the bash completion of the command line tool from its own help
# texts, so that both follow every command and option the tool has.
#   cmake -DCLI=<lumokonf-cli> -DVERSION=<x.y.z> -DMAN=<out.1> -DCOMPLETION=<out> -P CliDocs.cmake

function(lumo_run_help out)
  execute_process(COMMAND ${CLI} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE rc
                  ERROR_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${CLI} ${ARGN} --help failed (${rc})")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The lines of a help text's section ("Options:", "Subcommands:") up to the next blank line; a
# description wrapped onto a line of its own is joined to its option's line.
function(lumo_section text section out)
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(inside FALSE)
  set(result)
  set(pending "")
  foreach(line IN LISTS lines)
    if(line STREQUAL "${section}")
      set(inside TRUE)
    elseif(inside AND line STREQUAL "")
      break()
    elseif(inside AND line MATCHES "^          " AND NOT pending STREQUAL "")
      string(STRIP "${line}" more)
      set(pending "${pending}  ${more}")
    elseif(inside)
      if(NOT pending STREQUAL "")
        list(APPEND result "${pending}")
      endif()
      set(pending "${line}")
    endif()
  endforeach()
  if(NOT pending STREQUAL "")
    list(APPEND result "${pending}")
  endif()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# Escapes a text for roff: backslashes and leading dots or quotes.
function(lumo_roff text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "^([.'])" "\\\\&\\1" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Appends one option to the manual page text in var: ".TP", the option in bold, its argument in
# italics, its description.
function(lumo_man_option var option argument description)
  lumo_roff("${option}" ropt)
  lumo_roff("${description}" rdesc)
  set(text ".TP\n.B ${ropt}")
  if(NOT argument STREQUAL "")
    lumo_roff("${argument}" rarg)
    string(APPEND text " \\fI${rarg}\\fR")
  endif()
  set(${var} "${${var}}${text}\n${rdesc}\n" PARENT_SCOPE)
endfunction()

# "  --port TEXT REQUIRED   serial port" -> option, argument, description. CLI11's notes
# beside the argument ("REQUIRED", "Needs: --repeat", "..." for a repeatable option) move into
# the description as words.
function(lumo_split_option line option argument description)
  string(REGEX MATCH "^  (-[a-zA-Z],)?(--[a-z0-9-]+)(.*)$" m "${line}")
  set(${option} "${CMAKE_MATCH_2}" PARENT_SCOPE)
  set(rest "${CMAKE_MATCH_3}")
  # The argument part ends where two blanks begin the description.
  set(head "")
  if(rest MATCHES "^ [^ ]")
    string(REGEX MATCH "^( [^ ]+)+" head "${rest}")
  endif()
  string(LENGTH "${head}" n)
  string(SUBSTRING "${rest}" ${n} -1 desc)
  string(STRIP "${desc}" desc)
  set(notes "")
  if(head MATCHES " Needs: ([-a-z0-9 ]+)")
    string(STRIP "${CMAKE_MATCH_1}" needs)
    string(APPEND notes " (needs ${needs})")
    string(REGEX REPLACE " Needs: [-a-z0-9 ]+" "" head "${head}")
  endif()
  if(head MATCHES " REQUIRED")
    string(APPEND notes " (required)")
    string(REPLACE " REQUIRED" "" head "${head}")
  endif()
  if(head MATCHES " \\.\\.\\.")
    string(APPEND notes " (may be given more than once)")
    string(REPLACE " ..." "" head "${head}")
  endif()
  string(STRIP "${head}" arg)
  set(${argument} "${arg}" PARENT_SCOPE)
  set(${description} "${desc}${notes}" PARENT_SCOPE)
endfunction()

lumo_run_help(top)
string(REGEX MATCH "^[^\n]*" summary "${top}")
lumo_section("${top}" "Options:" top_options)
lumo_section("${top}" "Subcommands:" commands_lines)

set(man ".TH LUMOKONF-CLI 1 \"\" \"Lumo-Konf ${VERSION}\" \"User Commands\"\n")
string(APPEND man ".SH NAME\nlumokonf\\-cli \\- ${summary}\n")
string(APPEND man ".SH SYNOPSIS\n.B lumokonf\\-cli\n[\\fIOPTIONS\\fR] \\fICOMMAND\\fR [\\fIARGS\\fR]\n")
string(APPEND man ".SH DESCRIPTION\nThe command line front end of the Lumo\\-Konf configurator. It finds the \
device definition, the settings file (lumokonf.ini: Echo, AutoReadConf, Language) and the \
self\\-test rules exactly as the desktop program does, talks to one device on a serial port \
(or a simulated device, SIM:TG5 or SIM:JOVIX), prints errors on standard error in the \
language chosen and JSON on standard output in UTF\\-8.\n")
string(APPEND man ".SH OPTIONS\n")
set(top_words)
foreach(line IN LISTS top_options)
  lumo_split_option("${line}" opt arg desc)
  if(opt STREQUAL "")
    continue()
  endif()
  list(APPEND top_words "${opt}")
  lumo_man_option(man "${opt}" "${arg}" "${desc}")
endforeach()

string(APPEND man ".SH COMMANDS\n")
set(command_names)
set(completion_cases)
foreach(line IN LISTS commands_lines)
  string(REGEX MATCH "^  ([a-z][a-z0-9-]*) +(.*)$" m "${line}")
  if(m STREQUAL "")
    continue()
  endif()
  set(name "${CMAKE_MATCH_1}")
  set(desc "${CMAKE_MATCH_2}")
  list(APPEND command_names "${name}")
  lumo_run_help(sub ${name})
  string(REGEX MATCH "Usage: [^\n]*" usage "${sub}")
  string(REGEX REPLACE "Usage: [^ ]*lumokonf-cli" "lumokonf-cli" usage "${usage}")
  lumo_section("${sub}" "Options:" sub_options)
  lumo_section("${sub}" "Positionals:" sub_positionals)
  lumo_roff("${name}" rname)
  lumo_roff("${desc}" rdesc)
  lumo_roff("${usage}" rusage)
  string(APPEND man ".SS ${rname}\n${rdesc}.\n.br\n.B ${rusage}\n")
  foreach(p IN LISTS sub_positionals)
    string(STRIP "${p}" p)
    lumo_roff("${p}" rp)
    string(APPEND man ".br\n${rp}\n")
  endforeach()
  set(words)
  set(file_options)
  foreach(o IN LISTS sub_options)
    lumo_split_option("${o}" opt arg desc)
    if(opt STREQUAL "" OR opt STREQUAL "--help")
      continue()
    endif()
    list(APPEND words "${opt}")
    if(arg MATCHES "^TEXT")
      list(APPEND file_options "${opt}")
    endif()
    lumo_man_option(man "${opt}" "${arg}" "${desc}")
  endforeach()
  list(JOIN words " " words)
  list(JOIN file_options "|" file_options)
  string(APPEND completion_cases "    ${name}) words=\"${words}\"; takes_value=\"${file_options}\" ;;\n")
endforeach()

string(APPEND man ".SH EXIT STATUS\n.TP\n.B 0\nsuccess\n.TP\n.B 1\nthe job failed: device, file \
or validation; a parameter file with a line that sets no value (nothing is written without \
\\-\\-skip\\-invalid); fewer units than \\-\\-count; no first unit within \\-\\-timeout; \
standard output or the log could not be written completely (full disk, closed pipe)\n.TP\n\
.B 2\nwrong usage (unknown command or option, an option that needs another, a \\-\\-timeout that \
is not a positive number)\n.TP\n.B 130\nstopped by SIGINT (Ctrl\\-C)\n.TP\n.B 143\nstopped by \
SIGTERM\n")
string(APPEND man ".SH SIGNALS\nA command that changes a device (write, write \\-\\-repeat, flash) \
never stops inside a page pair, a read\\-back or a firmware transfer. After SIGINT or SIGTERM it \
finishes the write with its read\\-back (or the update), verifies, reports, gives the device \
back and ends with 130 or 143; write \\-\\-repeat finishes and logs the unit in progress. A \
second signal is acknowledged on standard error and changes nothing. Before the device is \
touched a signal ends the program at once. SIGPIPE is ignored: a closed output pipe is an error \
of the output (exit 1), the device in progress is still finished. signal \\-\\-count 0 runs until \
SIGINT or SIGTERM.\n")
file(READ "${CMAKE_CURRENT_LIST_DIR}/../doc/cli-events.roff" events)
string(APPEND man "${events}")
string(APPEND man ".SH EXAMPLES\n.nf\n\
lumokonf\\-cli read \\-\\-port /dev/ttyUSB0 \\-\\-out unit.par\n\
lumokonf\\-cli write \\-\\-port /dev/ttyUSB0 \\-\\-file unit.par\n\
lumokonf\\-cli read \\-\\-port SIM:TG5 \\-\\-json\n\
lumokonf\\-cli simulate \\-\\-device tg5\n.fi\n")
string(APPEND man ".SH FILES\n.TP\n.B lumokonf.ini\nthe desktop program's settings, looked for in the \
current directory, then beside the program; never written by this tool.\n.TP\n.B Limits.txt\n\
self\\-test rules: current directory, program directory, then the installed share folder.\n")
string(APPEND man ".SH NOTES\nOpening a serial port needs membership of the group \\fBdialout\\fR \
(sudo usermod \\-aG dialout $USER, then log in again).\n")
string(APPEND man ".SH SEE ALSO\nThe manual of the desktop program, lumokonf.htm (its Help menu).\n")
file(WRITE "${MAN}" "${man}")

list(JOIN command_names " " command_names)
list(JOIN top_words " " top_words)
file(WRITE "${COMPLETION}" "# bash completion for lumokonf-cli (made from its help texts)
_lumokonf_cli() {
  local cur prev command i words takes_value
  cur=\"\${COMP_WORDS[COMP_CWORD]}\"
  prev=\"\${COMP_WORDS[COMP_CWORD-1]}\"
  for ((i = 1; i < COMP_CWORD; i++)); do
    case \" ${command_names} \" in *\" \${COMP_WORDS[i]} \"*) command=\"\${COMP_WORDS[i]}\"; break ;; esac
  done
  case \"\$prev\" in
    --lang) COMPREPLY=(\$(compgen -W \"en de\" -- \"\$cur\")); return ;;
    --echo) COMPREPLY=(\$(compgen -W \"on off\" -- \"\$cur\")); return ;;
    --device) COMPREPLY=(\$(compgen -W \"tg5 jovix\" -- \"\$cur\")); return ;;
    --port)
      COMPREPLY=(\$(compgen -W \"SIM:TG5 SIM:JOVIX \$(lumokonf-cli ports 2>/dev/null | cut -f1)\" -- \"\$cur\"))
      return ;;
  esac
  if [ -z \"\$command\" ]; then
    COMPREPLY=(\$(compgen -W \"${command_names} ${top_words}\" -- \"\$cur\"))
    [ \"\$prev\" = --definition ] && COMPREPLY=(\$(compgen -f -- \"\$cur\"))
    return
  fi
  case \"\$command\" in
${completion_cases}  esac
  if [ -n \"\$takes_value\" ] && [[ \"\$prev\" == @(\$takes_value) ]]; then
    COMPREPLY=(\$(compgen -f -- \"\$cur\"))
  elif [[ \"\$cur\" == -* ]]; then
    COMPREPLY=(\$(compgen -W \"\$words\" -- \"\$cur\"))
  else
    COMPREPLY=(\$(compgen -f -- \"\$cur\"))
  fi
}
complete -F _lumokonf_cli lumokonf-cli
")
