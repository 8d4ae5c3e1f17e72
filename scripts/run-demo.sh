#!/bin/sh
# Shows a whole installation working, on an already built Windows tree: the
# sample course's archives are served by a local HTTPS server, its installer
# runs under Wine in a throwaway prefix, and the course answers at
# http://127.0.0.1:8793/. Everything it starts is stopped at the end.
# Usage: run-demo.sh [WINDOWS_BUILD_DIR]
set -eu
source=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$source/build/windows}")
prefix=$build/demo-prefix
state=$build/demo-server
course=http://127.0.0.1:8793/

stop_all() {
  # The course server is the host's Python, started by the runtime's
  # python.exe stand-in inside the demo prefix.
  for pid in $(pgrep -f 'server\.py' || true); do
    case "$(readlink "/proc/$pid/cwd" 2>/dev/null)" in "$prefix"/*) kill "$pid" ;; esac
  done
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  bash "$source/tests/harness/server_ctl.sh" stop "$state"
}
trap stop_all EXIT

echo "== The program proves its SHA-256 engine"
"$source/tools/wine-run" "$build/wineprefix" "$build/quillby-setup.exe" --selftest

echo "== Installing the sample course from a local HTTPS server"
rm -rf "$prefix"
bash "$source/tests/harness/server_ctl.sh" start "$state" "$build/sample-course-files" 600 48444
sh "$source/tools/try/prepare_prefix.sh" "$prefix" "$build" "$source" "$state/ca.der" "$build/demo-browser.log"
# The progress lines rewrite one console line; here each gets its own.
status=0
QUILLBY_PYTHON_HOST=$(command -v python3) \
  "$source/tools/wine-run" "$prefix" "$build/quillby-sample-setup.exe" >"$build/demo-install.log" || status=$?
tr '\r' '\n' <"$build/demo-install.log" | grep -v '^$'
[ "$status" -eq 0 ] || { echo "the installer ended with status $status"; exit 1; }

echo "== The course, served on this computer"
python3 - "$course" <<'PYTHON'
import re, sys, time, urllib.request
for attempt in range(60):
    try:
        page = urllib.request.urlopen(sys.argv[1], timeout=5).read().decode()
        break
    except OSError:
        time.sleep(0.5)
else:
    sys.exit(f"the course did not answer at {sys.argv[1]}")
print(f"{sys.argv[1]} answers: {re.search(r'<title>(.*?)</title>', page).group(1)}")
PYTHON
