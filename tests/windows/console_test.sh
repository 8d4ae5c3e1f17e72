#!/bin/sh
# A setup program run in a real Wine console, read back from the screen: the
# French course's banner must show as written although the console decodes
# bytes in its own code page, and that code page must be the same after the
# run as before it (it outlives the program at a prompt).
# Usage: console_test.sh PREFIX PROGRAM SOURCE_DIR
set -eu
prefix=$1 program=$2 source=$3
work=$(mktemp -d)
windows_program=Z:$(printf '%s' "$program" | tr / '\\')
socket=quillby-console-$$
trap 'tmux -L "$socket" kill-server 2>/dev/null || true; rm -rf "$work"' EXIT

# The program runs from a prompt in a terminal of 200 columns, and the
# session's last command marks that the prompt has ended.
cat >"$work/run.sh" <<SCRIPT
"$source/winekit/wine-run" "$prefix" cmd /c "chcp & set LOCALAPPDATA=C:\\\\console-test&& $windows_program & chcp"
touch "$work/done"
sleep 60
SCRIPT
LANG=C.UTF-8 tmux -L "$socket" new-session -d -x 200 -y 30 "sh $work/run.sh"
for _ in $(seq 120); do
  [ -f "$work/done" ] && break
  sleep 0.5
done
[ -f "$work/done" ] || { echo "the program did not end within a minute"; exit 1; }
tmux -L "$socket" capture-pane -p -J >"$work/screen.txt"
sed '/^$/d' "$work/screen.txt"

python3 - "$work/screen.txt" <<'PYTHON'
import sys
lines = [line.rstrip() for line in open(sys.argv[1], encoding="utf-8") if line.strip()]
pages = [line for line in lines if line.startswith("Active code page:")]
expected = [
    "Cours de français – installation",
    "Ce programme installe le cours « Lire et écrire » et l’ouvre.",
    "Could not reach the download address. Check the internet connection and try again.",
]
problems = []
if len(pages) != 2 or pages[0] != pages[1]:
    problems.append(f"the console's code page changed: {pages}")
elif pages[0].endswith(" 65001"):
    problems.append("the console already decodes UTF-8: this run shows nothing")
for line in expected:
    if line not in lines:
        problems.append(f"not on the screen as written: {line}")
if problems:
    sys.exit("\n".join(problems))
print("course text reads as written; the console's code page stayed", pages[0].split(": ")[1])
PYTHON
