# The environment of every Wine run of the kit's, read by wine-run and by
# make_prefix.sh (Wine's first boot in a prefix runs under it too).
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko prompts; a powershell.exe placed in the prefix wins over
# Wine's built-in stub; a wininet.dll found by a program's search is loaded,
# as Windows would (Wine's own copy is used where no other is found); no
# desktop icons written to this machine's home for shortcuts programs make.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;powershell.exe=n;wininet=n,b;winemenubuilder.exe=d}"
