#!/usr/bin/env bash
# Measures the shipped kestrow: the time from its start until its window is on screen, and its
# resident memory when idle on the ports screen with 10,000 listening sockets held by 2,000
# processes to show (at most 80 MB, or the script fails).
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
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null || true
    [ -n "$helper" ] && kill "$helper" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=$display
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

"$kestrow" >/dev/null 2>&1 &
app=$!
wait_for_window "$app"
# The screen has scanned and drawn once the program stops using the processor: its CPU time has
# not grown for two seconds.
cpu_ticks() { awk '{ print $14 + $15 }' /proc/"$app"/stat; }
last=$(cpu_ticks)
still=0
for _ in $(seq 600); do
    sleep 0.25
    now=$(cpu_ticks)
    if [ "$now" = "$last" ]; then
        still=$((still + 1))
        [ "$still" -ge 8 ] && break
    else
        still=0
        last=$now
    fi
done
[ "$still" -ge 8 ] || { echo "the program never went idle" >&2; exit 1; }
grep -E 'VmRSS|VmHWM' /proc/"$app"/status | sed 's/^/  /'
rss=$(awk '/VmRSS/ { print $2 }' /proc/"$app"/status)
echo "  resident: $((rss / 1024)) MB (limit $((limit_kb / 1024)) MB)"
[ "$rss" -le "$limit_kb" ]
