#!/bin/sh
# Sets up and tears down what the Windows tests need around them: the local
# HTTPS server, the tests' Wine prefix made to stand in for a learner's
# Windows (trusting the server's CA, and only there), and a file system too
# small for a download (for the full-disk case).
#   fixture.sh up BUILD_DIR SOURCE_DIR
#   fixture.sh down BUILD_DIR SOURCE_DIR
# BUILD_DIR is the Windows build tree: the state lives in its https-server/,
# served-files/ and small-fs/ folders, the prefix in wineprefix/.
set -eu
action=$1 build=$(realpath "$2") source=$(realpath "$3")
state=$build/https-server
small=$build/small-fs

unmount_small_fs() {
  if mountpoint -q "$small"; then umount "$small"; fi
}

case "$action" in
up)
  bash "$source/winekit/server_ctl.sh" stop "$state"
  mkdir -p "$build/served-files"
  rm -f "$state/requests.log" "$build/browser.log"
  bash "$source/winekit/server_ctl.sh" start "$state" "$build/served-files" 1800 48443
  sh "$source/winekit/prepare_prefix.sh" "$build/wineprefix" "$build" "$source" "$state/ca.der" "$build/browser.log"
  unmount_small_fs
  mkdir -p "$small"
  mount -t tmpfs -o size=64k quillby-small-fs "$small"
  ;;
down)
  bash "$source/winekit/server_ctl.sh" stop "$state"
  unmount_small_fs
  ;;
*)
  echo "usage: fixture.sh up|down BUILD_DIR SOURCE_DIR"
  exit 2
  ;;
esac
