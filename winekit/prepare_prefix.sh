#!/bin/sh
# Makes a Wine prefix stand in for a learner's Windows, for the tests and for
# author/build-course --try: the local HTTPS server's CA trusted there (and
# nowhere else), PowerShell (which Wine lacks) where Windows keeps it, and a browser that only records what it is asked to open, into
# BROWSER_LOG (local pages too, as Windows hands them to the default
# browser). WINDOWS_BUILD_DIR holds the stand-ins and trust_ca.exe.
# Usage: prepare_prefix.sh PREFIX WINDOWS_BUILD_DIR SOURCE_DIR CA_DER BROWSER_LOG
set -eu
prefix=$1 build=$2 source=$3 ca=$4 browser_log=$5
# A copy of the build tree's blank prefix: Wine boots once for every try.
sh "$source/winekit/make_prefix.sh" "$prefix" "$build/winekit/blank-prefix"
"$source/winekit/wine-run" "$prefix" "$build/winekit/trust_ca.exe" "Z:$ca"
system32=$prefix/drive_c/windows/system32
cp "$build/winekit/standins/powershell.exe" "$system32/WindowsPowerShell/v1.0/powershell.exe"
"$source/winekit/wine-run" "$prefix" reg add 'HKCU\Software\Wine\WineBrowser' \
  /v Browsers /d "\"$source/winekit/browser_log.sh\" \"$browser_log\"" /f >/dev/null
# Windows hands a local page (.html, or a file: address) to the default
# browser; Wine's prefix, with its own browser engine turned off, has no
# association for either.
"$source/winekit/wine-run" "$prefix" reg import "Z:$source/winekit/local_pages.reg" >/dev/null
