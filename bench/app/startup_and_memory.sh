#!/usr/bin/env bash
# Measures the shipped kestrow: the time from its start until its window is on screen; its
# resident memory when idle on the ports screen with 10,000 listening sockets held by 2,000
# processes to show (at most 80 MB); and the processor time it takes over 60 s while it sits on
# the ports screen refreshing itself, with those sockets (at most 5% of one core) and with 100
# listening sockets (at most 2%). The script fails when a figure misses its limit.
# Usage: bench/app/startup_and_memory.sh BUILD_DIR   (a Release build with KESTROW_BUILD_BENCH=ON)
# Runs under a private Xvfb server; needs xvfb and x11-utils (xwininfo).
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR}
kestrow=$build/src/app/kestrow
listeners=$build/bench/app/bench_listeners
runs=${RUNS:-5}
sockets=${SOCKETS:-10000}
processes=${PROCESSES:-2000}
limit_kb=$((80 * 1024))

for tool in Xvfb xwininfo; do
    command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done

number=90
while [ -e /tmp/.X$number-lock ] || [ -e /tmp/.X11-unix/X$number ]; do
    number=$((number + 1))
done
display=:$number
Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
helper=""
app=""
# The program starts from its defaults (a user's remembered choices, such as auto-refresh off,
# would change what is measured) and leaves no settings behind.
config=$(mktemp -d)
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null || true
    [ -n "$helper" ] && kill "$helper" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$config"
}
trap cleanup EXIT
export DISPLAY=$display XDG_CONFIG_HOME=$config
unset QT_QPA_PLATFORM
for _ in $(seq 200); do
    xwininfo -root >/dev/null 2>&1 && break
    sleep 0.05
done
xwininfo -root >/dev/null 2>&1 || { echo "Xvfb did not start" >&2; exit 1; }

now_ms() { date +%s%3N; }

# The window counts as on screen once the X server reports it viewable (the program also owns
# hidden helper windows, so the one with the program's window class is looked up).
wait_for_window() {
    while :; do
        id=$(xwininfo -root -tree 2>/dev/null | awk '/\("kestrow" "Kestrow"\)/ {print $1; exit}')
        if [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'IsViewable'; then
            return 0
        fi
        kill -0 "$1" 2>/dev/null || return 1
    done
}

echo "start until the window is on screen ($runs runs):"
times=()
for i in $(seq "$runs"); do
    start=$(now_ms)
    "$kestrow" >/dev/null 2>&1 &
    app=$!
    wait_for_window "$app"
    times+=($(( $(now_ms) - start )))
    kill "$app"; wait "$app" 2>/dev/null || true
    app=""
    sleep 0.3
done
printf '  %s ms\n' "${times[@]}"
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
echo "  median: ${sorted[$(( ${#sorted[@]} / 2 ))]} ms"

echo "resident memory, idle on the ports screen with $sockets listening sockets in $processes processes:"
coproc LISTEN { "$listeners" "$sockets" "$processes"; }
helper=$LISTEN_PID
read -r ready <&"${LISTEN[0]}"
[ "$ready" = ready ] || { echo "helper failed" >&2; exit 1; }

cpu_ticks() { awk '{ print $14 + $15 }' /proc/"$app"/stat; }
ticks_per_second=$(getconf CLK_TCK)
# Starts the program and waits until its screen has scanned and drawn: it refreshes itself every
# two seconds, so it counts as settled once four seconds have cost it at most a tenth of a core.
start_settled() {
    "$kestrow" >/dev/null 2>&1 &
    app=$!
    wait_for_window "$app"
    local window=() now
    for _ in $(seq 600); do
        sleep 0.5
        now=$(cpu_ticks)
        window+=("$now")
        if [ "${#window[@]}" -gt 8 ]; then
            window=("${window[@]:1}")
            [ $((now - window[0])) -le $((ticks_per_second * 4 / 10)) ] && return 0
        fi
    done
    echo "the program never settled" >&2
    return 1
}
# Prints the share of one core, in percent, that the program took over 60 seconds, and fails
# above the given limit.
idle_cpu() {
    local before after percent
    before=$(cpu_ticks)
    sleep 60
    after=$(cpu_ticks)
    percent=$(awk -v t=$((after - before)) -v hz="$ticks_per_second" 'BEGIN { printf "%.2f", 100 * t / hz / 60 }')
    echo "  processor time over 60 s, refreshing itself: ${percent}% of one core (limit $1%)"
    awk -v p="$percent" -v limit="$1" 'BEGIN { exit !(p <= limit) }'
}

start_settled
grep -E 'VmRSS|VmHWM' /proc/"$app"/status | sed 's/^/  /'
rss=$(awk '/VmRSS/ { print $2 }' /proc/"$app"/status)
echo "  resident: $((rss / 1024)) MB (limit $((limit_kb / 1024)) MB)"
missed=0
[ "$rss" -le "$limit_kb" ] || missed=1
idle_cpu 5 || missed=1
kill "$app"; wait "$app" 2>/dev/null || true
app=""
# Its processes end with it.
kill "$helper"
wait "$helper" 2>/dev/null || true
helper=""

echo "the ports screen refreshing itself with 100 listening sockets:"
coproc FEW { "$listeners" 100; }
helper=$FEW_PID
read -r ready <&"${FEW[0]}"
[ "$ready" = ready ] || { echo "helper failed" >&2; exit 1; }
start_settled
idle_cpu 2 || missed=1
exit "$missed"
