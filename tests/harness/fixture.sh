#!/bin/sh
# Sets up and tears down what the Windows tests need around them: the local
# HTTPS server, the tests' Wine prefix made to stand in for a learner's
# Windows (trusting the server's CA, and only there), a file system too
# small for a download (for the full-disk case), and a small learner's drive
# Q: that the full-disk tests fill to the byte they need.
#   fixture.sh up BUILD_DIR SOURCE_DIR
#   fixture.sh down BUILD_DIR SOURCE_DIR
# BUILD_DIR is the Windows build tree: the state lives in its https-server/,
# served-files/, small-fs/ and learner-drive/ folders, the prefix in
# wineprefix/. The mounts need root, as the tests run in CI.
set -eu
action=$1 build=$(realpath "$2") source=$(realpath "$3")
state=$build/https-server
small=$build/small-fs
drive=$build/learner-drive

unmount_file_systems() {
  for folder in "$small" "$drive"; do
    if mountpoint -q "$folder"; then umount "$folder"; fi
  done
}

case "$action" in
up)
  bash "$source/winekit/server_ctl.sh" stop "$state"
  mkdir -p "$build/served-files"
  rm -f "$state/requests.log" "$build/browser.log"
  bash "$source/winekit/server_ctl.sh" start "$state" "$build/served-files" 1800 48443
  sh "$source/winekit/prepare_prefix.sh" "$build/wineprefix" "$build" "$source" "$state/ca.der" "$build/browser.log"
  unmount_file_systems
  mkdir -p "$small" "$drive"
  mount -t tmpfs -o size=64k quillby-small-fs "$small"
  mount -t tmpfs -o size=8m quillby-learner-drive "$drive"
  ln -sfn "$drive" "$build/wineprefix/dosdevices/q:"
  ;;
down)
  bash "$source/winekit/server_ctl.sh" stop "$state"
  unmount_file_systems
  ;;
*)
  echo "usage: fixture.sh up|down BUILD_DIR SOURCE_DIR"
  exit 2
  ;;
esac
