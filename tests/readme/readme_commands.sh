#!/usr/bin/env bash
# Runs the examples of README.md's command line section ("## The command line tool", up to the
# next "## " heading) as written, from the repository's folder, with the built lumokonf-cli first
# on PATH. Fails when a command fails, so the README cannot drift from the program.
#
#   readme_commands.sh README.md CLI_FOLDER
#
# Every fenced block of the section that holds a line beginning with "lumokonf-cli" (or
# "coproc") is one bash script, run with -e: a failing command fails the block. In those blocks
#   - a line whose comment says "needs a real device" is skipped;
#   - a line whose comment says "until Ctrl+C" must start, print its first line and still run;
#     it is then stopped with SIGINT and must end with status 0.
# Blocks run side by side, each with a runtime folder of its own (the simulated ports' locks).
# Files the commands leave in the repository's top folder are removed afterwards.
set -uo pipefail

readme="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
cli_folder="$(cd "$2" && pwd)"
repo="$(dirname "$readme")"
[ -x "$cli_folder/lumokonf-cli" ] || { echo "no lumokonf-cli in $cli_folder" >&2; exit 1; }
export PATH="$cli_folder:$PATH"

work="$(mktemp -d)"
before="$work/before"
(cd "$repo" && ls -A) | sort >"$before"
cleanup() {
  # What the examples wrote into the repository's folder (unit.par, a program file, ...).
  (cd "$repo" && ls -A) | sort | comm -13 "$before" - | while IFS= read -r name; do
    [ -f "$repo/$name" ] && rm -f -- "$repo/$name"
  done
  rm -rf "$work"
}
trap cleanup EXIT

# The command blocks of the section, each into its own file block_N.sh (lines as written).
awk -v dir="$work" '
  /^## / { in_section = ($0 ~ /^## The command line tool/); next }
  !in_section { next }
  /^```/ {
    if (in_block) {
      in_block = 0
      if (commands) { n++; printf "%s", text > (dir "/block_" n ".sh"); close(dir "/block_" n ".sh") }
    } else {
      in_block = 1; text = ""; commands = 0
    }
    next
  }
  in_block {
    text = text $0 "\n"
    if ($0 ~ /^(lumokonf-cli|coproc) /) commands++
  }
' "$readme"

blocks=("$work"/block_*.sh)
if [ ! -e "${blocks[0]}" ]; then
  echo "README.md: no command block in the command line section" >&2
  exit 1
fi

# A line that runs until Ctrl+C: started, its first output line awaited (10 s at most), then
# SIGINT; it must still run at that moment and end with status 0.
cat >"$work/prelude.sh" <<'EOF'
until_stopped() {
  local out
  out="$(mktemp)"
  "$@" >"$out" &
  local pid=$! waited=0
  while [ ! -s "$out" ] && [ $waited -lt 100 ] && kill -0 "$pid" 2>/dev/null; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if ! kill -0 "$pid" 2>/dev/null || [ ! -s "$out" ]; then
    echo "README command did not keep running with its output: $*" >&2
    return 1
  fi
  echo "  (prints $(head -n 1 "$out"), stopped with Ctrl+C)"
  kill -INT "$pid"
  wait "$pid"
}
trap 'echo "README command failed (exit $?): $BASH_COMMAND" >&2' ERR
set -eE
EOF

status=0
pids=()
for block in "${blocks[@]}"; do
  script="${block%.sh}.run"
  cp "$work/prelude.sh" "$script"
  while IFS= read -r line; do
    case "$line" in
      *"needs a real device"*)
        echo "echo 'skipped (needs a real device): ${line//\'/}'" >>"$script" ;;
      *"until Ctrl+C"*)
        echo "echo '\$ ${line//\'/}'" >>"$script"
        echo "until_stopped ${line%%#*}" >>"$script" ;;
      "" | "#"*)
        echo "$line" >>"$script" ;;
      *)
        echo "echo '\$ ${line//\'/}'" >>"$script"
        echo "$line" >>"$script" ;;
    esac
  done <"$block"
  runtime="$(mktemp -d -p "$work")"
  (cd "$repo" && XDG_RUNTIME_DIR="$runtime" bash "$script" >"$script.log" 2>&1) &
  pids+=($!)
done

for i in "${!pids[@]}"; do
  if wait "${pids[$i]}"; then result=passed; else result=FAILED; status=1; fi
  echo "=== README command block $((i + 1)): $result"
  cat "${blocks[$i]%.sh}.run.log"
done
exit $status
