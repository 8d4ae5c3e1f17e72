#!/bin/sh
# Stands in for the learner's browser under Wine (named, with its log, in the
# prefix's WineBrowser setting by prepare_prefix.sh): records the folder it was started in
# and the address it is asked to open, and never starts a real browser.
# Usage: browser_log.sh LOG ADDRESS
log=$1
shift
printf '%s %s\n' "$(pwd)" "$*" >>"$log"
