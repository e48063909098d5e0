#!/usr/bin/env bash
# clang-tidy (.clang-tidy) over the program's sources: every file of the Linux build's compile
# commands, then the Windows-only ones through the mingw build's, read by clang as a mingw
# target with the cross compiler's C++ library. Prints the findings once each; fails on any.
#
#   scripts/lint-tidy.sh [--fix] [--jobs N] <linux build> [<windows build> [<folder>...]]
#
# --fix applies the naming rule's renames only (the other checks' fixes want a reader, and a
# changed signature in a shared header would not reach the other platform's twin).
# The folders default to src; a missing Windows build is skipped with a note.
set -euo pipefail
cd "$(dirname "$0")/.."

fix=0
jobs=2
while [ $# -gt 0 ]; do
  case "$1" in
    --fix) fix=1; shift ;;
    --jobs) jobs=$2; shift 2 ;;
    *) break ;;
  esac
done
linux_build=$1
windows_build=${2:-}
shift
[ $# -gt 0 ] && shift
folders=("$@")
[ ${#folders[@]} -gt 0 ] || folders=(src)

root=$(pwd)
alternatives=$(IFS='|'; echo "${folders[*]}")
log=$(mktemp)
trap 'rm -rf "$log" "$log.win" "$log.yaml" "$log.win.yaml" "$log.fixes"' EXIT

# Lists the sources of a compile database below the chosen folders.
sources() {
  python3 - "$1" "$root" "$alternatives" <<'PY'
import json, re, sys
db, root, folders = sys.argv[1:]
pattern = re.compile(re.escape(root) + "/(" + folders + r")/.*\.cpp$")
for entry in json.load(open(db)):
    if pattern.match(entry["file"]):
        print(entry["file"])
PY
}

status=0
mapfile -t linux < <(sources "$linux_build/compile_commands.json" | sort -u)
echo "clang-tidy: ${#linux[@]} files of the Linux build"
# Shadowing is the compilers' -Wshadow to judge: clang's wider rule would also flag each Win32
# dialog's control ids, which repeat the main window's names inside the dialog's class.
run-clang-tidy -p "$linux_build" -j"$jobs" -quiet -extra-arg=-Wno-shadow \
  -export-fixes "$log.yaml" "${linux[@]}" \
  >"$log" 2>&1 || status=1

if [ -n "$windows_build" ] && [ -f "$windows_build/compile_commands.json" ]; then
  mapfile -t windows < <(comm -13 <(printf '%s\n' "${linux[@]}") \
                                  <(sources "$windows_build/compile_commands.json" | sort -u))
  gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
  mingw=(--target=x86_64-w64-mingw32 -nostdinc++ -isystem"$gcc_dir/include/c++"
         -isystem"$gcc_dir/include/c++/x86_64-w64-mingw32" -isystem"$gcc_dir/include/c++/backward"
         -isystem/usr/x86_64-w64-mingw32/include)
  echo "clang-tidy: ${#windows[@]} Windows-only files of the mingw build"
  run-clang-tidy -p "$windows_build" -j"$jobs" -quiet -extra-arg=-Wno-shadow \
    -export-fixes "$log.win.yaml" \
    "${mingw[@]/#/-extra-arg=}" "${windows[@]}" >"$log.win" 2>&1 || status=1
  cat "$log.win" >>"$log"
elif [ -n "$windows_build" ]; then
  echo "clang-tidy: no $windows_build/compile_commands.json, the Windows-only files are skipped"
fi

findings=$(sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E '^/.*: (warning|error): ' | sort -u || true)
if [ "$fix" = 1 ]; then
  # The renames alone, each once, applied together to every file they touch.
  mkdir "$log.fixes"
  python3 - "$log.fixes/naming.yaml" "$log.yaml" "$log.win.yaml" <<'PY'
import os, sys, yaml
merged = {"MainSourceFile": "", "Diagnostics": []}
for name in sys.argv[2:]:
    if os.path.exists(name):
        for diagnostic in (yaml.safe_load(open(name)) or {}).get("Diagnostics") or []:
            if diagnostic.get("DiagnosticName") == "readability-identifier-naming":
                merged["Diagnostics"].append(diagnostic)
yaml.safe_dump(merged, open(sys.argv[1], "w"))
print(f"clang-tidy: {len(merged['Diagnostics'])} renames")
PY
  clang-apply-replacements "$log.fixes"
  # What the renames do not mend.
  printf '%s\n' "$findings" | grep -v 'readability-identifier-naming' || true
  exit 0
fi
if [ $status -ne 0 ] || [ -n "$findings" ]; then
  if [ -n "$findings" ]; then
    echo "$findings"
  else
    sed 's/\x1b\[[0-9;]*m//g' "$log" | tail -40
  fi
  echo "clang-tidy: $(printf '%s\n' "$findings" | grep -c . || true) findings" >&2
  exit 1
fi
echo "clang-tidy: clean"
