#!/usr/bin/env bash
# scripts/run without any display: the window it serves is reachable by its user alone. Checks
# every socket that the run's processes listen on:
#   - no TCP or UDP socket outside 127.0.0.0/8 and ::1;
#   - a Unix socket that another user can connect to answers only as an X server that refuses a
#     client without the cookie (the X display's socket is open to all by its nature);
#   - the VNC socket that scripts/run names answers its own user, and refuses another user.
#
#   headless_run_test.sh REPO UTILITY
# UTILITY is an already built tornelvox-utility, started through scripts/run without building.
# Last, the run is ended by SIGTERM to its processes, and must leave nothing behind.
set -uo pipefail
repo=$1
utility=$2
work=$(mktemp -d)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

run_pid=""
finish() {
    if [[ -n $run_pid ]] && kill -0 "$run_pid" 2>/dev/null; then
        kill -TERM -- "-$run_pid" 2>/dev/null
        for _ in $(seq 100); do kill -0 "$run_pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL -- "-$run_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap finish EXIT

# A new session, so that the run's processes are found by their session and ended together.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TORNELVOX_UTILITY="$utility" \
    setsid "$repo/scripts/run" --emulated --full-speed >"$work/out" 2>"$work/err" </dev/null &
run_pid=$!

# Shown: the demo prints its adapter's path once the window is on screen.
for _ in $(seq 600); do
    grep -q "Emulated adapter at" "$work/out" && break
    kill -0 "$run_pid" 2>/dev/null || break
    sleep 0.1
done
if ! grep -q "Emulated adapter at" "$work/out"; then
    echo "scripts/run did not show the window; its output:"
    cat "$work/out" "$work/err"
    exit 1
fi
echo "--- what scripts/run said"
cat "$work/err"

# Every process of the run's session, and the inodes of their sockets.
pids=()
for stat in /proc/[0-9]*/stat; do
    fields=$(sed 's/.*) //' "$stat" 2>/dev/null) || continue
    read -r _ _ _ session _ <<<"$fields"
    [[ $session == "$run_pid" ]] && pids+=("$(basename "$(dirname "$stat")")")
done
declare -A inodes=()
for pid in "${pids[@]}"; do
    for fd in /proc/"$pid"/fd/*; do
        target=$(readlink "$fd" 2>/dev/null) || continue
        [[ $target =~ ^socket:\[([0-9]+)\]$ ]] && inodes[${BASH_REMATCH[1]}]=1
    done
done
echo "--- processes: ${pids[*]}; sockets: ${#inodes[@]}"

# /proc/net/{tcp,udp}{,6}: the local address is hex in the kernel's byte order; a listening TCP
# socket is in state 0A, an unconnected UDP socket in state 07.
loopback() {
    local address=$1
    if ((${#address} == 8)); then
        [[ ${address:6:2} == 7F ]]
    else
        [[ $address == 00000000000000000000000001000000 ||
            ($address == 0000000000000000FFFF0000* && ${address:30:2} == 7F) ]]
    fi
}
for table in tcp tcp6 udp udp6; do
    [[ -r /proc/net/$table ]] || continue  # no IPv6 on this machine
    while read -r _ local _ state _ _ _ _ _ inode _; do
        [[ -n ${inodes[$inode]:-} ]] || continue
        [[ $table == tcp* && $state != 0A ]] && continue
        [[ $table == udp* && $state != 07 ]] && continue
        loopback "${local%:*}" || fail "listens on $table ${local} (not loopback)"
    done < <(tail -n +2 "/proc/net/$table")
done

# The Unix sockets the run listens on (state 01 with the listening flag 00010000).
listening_unix=()
while read -r _ _ _ flags _ _ inode path; do
    [[ -n ${inodes[$inode]:-} && $flags == 00010000 && -n $path && $path != @* ]] &&
        listening_unix+=("$path")
done < <(tail -n +2 /proc/net/unix)
echo "--- Unix sockets listened on: ${listening_unix[*]:-none}"

probe="$(dirname "${BASH_SOURCE[0]}")/socket_probe.pl"
vnc_socket=$(grep -o '/[^ ]*\.sock' "$work/err" | head -n 1)
if [[ -z $vnc_socket ]]; then
    fail "scripts/run names no VNC socket to reach the window by"
else
    answer=$(perl "$probe" vnc "$vnc_socket")
    [[ $answer == "RFB "* ]] || fail "the VNC socket does not answer its own user: $answer"
fi

if ((EUID == 0)); then
    other=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    for path in "${listening_unix[@]}"; do
        answer=$("${other[@]}" perl "$probe" x "$path")
        echo "another user at $path: $answer"
        [[ $answer == refused* || $answer == "X refused" ]] ||
            fail "another user is served at $path: $answer"
    done
else
    echo "not root: the check as another user is left out"
fi

# Ended as a closed session ends it: nothing of the run is left behind.
kill -TERM -- "-$run_pid" 2>/dev/null
for _ in $(seq 100); do
    kill -0 -- "-$run_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 -- "-$run_pid" 2>/dev/null && fail "processes of the run outlive it by 10 s"
[[ -n $vnc_socket && -e $(dirname "$vnc_socket") ]] && fail "the run left $(dirname "$vnc_socket")"

((failures == 0)) && echo "headless scripts/run: nothing served beyond its own user"
exit $((failures == 0 ? 0 : 1))
