#!/bin/sh
# Makes a Wine prefix on first use, once, however many programs ask at the
# same moment: a run that finds Wine's own files but no mark waits for the
# one still making the prefix, never uses it half made (the mark is written
# last). Wine's first boot takes some ten seconds; given a BLANK prefix, the
# new one is a copy of it instead, BLANK itself made once on first use, so a
# build tree boots Wine once however many throwaway prefixes its tries make.
# Usage: make_prefix.sh PREFIX [BLANK]
set -eu
. "$(dirname "$0")/wine_environment.sh"
prefix=$(realpath -m "$1")  # Wine takes absolute prefixes only
blank=${2:+$(realpath -m "$2")}
ready=.quillby-prefix-ready
[ -f "$prefix/$ready" ] && exit 0
if [ -n "$blank" ]; then
  sh "$0" "$blank"
fi
mkdir -p "$(dirname "$prefix")"
# A new prefix links the user's Desktop, Documents and the like to this
# machine's home folder; they become folders of the prefix's own, so that
# nothing a program saves there (a shortcut) lands outside the prefix.
flock "$prefix.lock" env WINEPREFIX="$prefix" BLANK="$blank" READY="$ready" sh -c '
  [ -f "$WINEPREFIX/$READY" ] && exit 0
  if [ -n "$BLANK" ]; then
    mkdir -p "$WINEPREFIX"
    # Not its owner: a user other than the one who made it copies it too
    # (the try, in a user namespace of its own); nor the running server'"'"'s
    # own file, which is no part of the prefix.
    for entry in "$BLANK"/* "$BLANK"/.[!.]*; do
      case "${entry##*/}" in "$READY" | wineserver) continue ;; esac
      [ -e "$entry" ] && { cp -dR --preserve=mode,timestamps "$entry" "$WINEPREFIX/" || exit 1; }
    done
  else
    wineboot -i >/dev/null 2>&1 && wineserver -w || exit 1
    for folder in "$WINEPREFIX"/drive_c/users/*/*; do
      if [ -L "$folder" ]; then rm "$folder" && mkdir "$folder"; fi
    done
  fi
  touch "$WINEPREFIX/$READY"' ||
  { echo "make_prefix.sh: could not make the Wine prefix $prefix"; exit 1; }
