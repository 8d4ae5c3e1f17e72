#!/bin/sh
# Shows a whole installation working, on an already built Windows tree: the
# program's self-test, then the sample course's try (what
# author/build-course --try does): its installer runs under Wine in a
# throwaway prefix, its archives served over HTTPS in a namespace of its own,
# and the course answers at http://127.0.0.1:8793/. Nothing it starts is
# left running, and the prefix is removed.
# Usage: run-demo.sh [WINDOWS_BUILD_DIR]
set -eu
source=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$source/build/windows}")

echo "== The program proves its SHA-256 engine"
"$source/winekit/wine-run" "$build/wineprefix" "$build/quillby-setup.exe" --selftest

echo "== Installing the sample course from a local HTTPS server"
python3 "$source/author/try/try_course.py" "$source/sample-course/sample.course" "$build/quillby-sample-setup.exe" \
  --files "$build/sample-course-files" --helpers "$build"
