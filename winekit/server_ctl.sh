#!/usr/bin/env bash
# Starts and stops the local HTTPS test server (https_server.py) for a test run.
#   server_ctl.sh start STATE_DIR FILES_DIR [LIFETIME_SECONDS [TRUSTED_PORT]]
#   server_ctl.sh stop STATE_DIR
# start returns once STATE_DIR/server.txt exists; the server's output goes to
# STATE_DIR/server.log and its PID to STATE_DIR/pid.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)

need() {
    command -v "$1" >/dev/null || { apt-get update && apt-get install -y "$2"; }
}

# The PID file may be stale and its number reused: only ever signal our server.
server_pid() {
    local pid
    pid=$(cat "$1/pid" 2>/dev/null) || return 1
    tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | grep -q https_server.py || return 1
    echo "$pid"
}

stop() {
    local pid
    if pid=$(server_pid "$1"); then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
        while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
    fi
    rm -f "$1/pid"
}

start() {
    local state=$1 files=$2 lifetime=$3 trusted_port=$4 pid
    need python3 python3
    need openssl openssl
    mkdir -p "$state"
    if server_pid "$state" >/dev/null; then
        echo "server_ctl: a server is already running for $state" >&2
        exit 1
    fi
    rm -f "$state/server.txt"
    nohup python3 "$here/https_server.py" --state "$state" --files "$files" \
        --lifetime "$lifetime" --trusted-port "$trusted_port" >"$state/server.log" 2>&1 </dev/null &
    pid=$!
    echo "$pid" >"$state/pid"
    for _ in $(seq 200); do
        [ -f "$state/server.txt" ] && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "server_ctl: server did not come up; its log follows" >&2
    stop "$state"
    cat "$state/server.log" >&2
    exit 1
}

usage() {
    echo "usage: $0 start STATE_DIR FILES_DIR [LIFETIME_SECONDS [TRUSTED_PORT]] | stop STATE_DIR" >&2
    exit 2
}

case "${1:-}:$#" in
start:3 | start:4 | start:5) start "$2" "$3" "${4:-900}" "${5:-0}" ;;
stop:2) stop "$2" ;;
*) usage ;;
esac
