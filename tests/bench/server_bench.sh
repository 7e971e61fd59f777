#!/usr/bin/env bash
# Web server throughput on loopback, side by side with nginx (one worker) serving the same files:
# wrk with one connection per request (Connection: close) at 1 to 200 connections, against GET of
# the generated index.html and of the jQuery Mobile script, and against gateway POSTs. Prints
# requests per second, latencies, CPU time per 10,000 requests and the requests dropped.
# Usage: tests/bench/server_bench.sh BUILD_DIR [SECONDS]   (CONCURRENCY="1 10 ..." to choose)
set -euo pipefail
BUILD=${1:?build directory}
SECONDS_RUN=${2:-10}
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WORK=$(mktemp -d)
# Free ports, so that another program on some fixed port changes nothing.
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
PORT_TSR=$(free_port)
PORT_NGINX=$(free_port)
cleanup() {
  [ -n "${TSR_PID:-}" ] && kill "$TSR_PID" 2>/dev/null || true
  [ -n "${SIM_PID:-}" ] && kill "$SIM_PID" 2>/dev/null || true
  [ -f "$WORK/nginx.pid" ] && kill "$(cat "$WORK/nginx.pid")" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# The example project with a Unity gateway bound to our simulator, for a device POST line.
mkfifo "$WORK/sim.in"
"$BUILD/tests/unity_sim" --set %MW0=1234 <"$WORK/sim.in" >"$WORK/sim.out" 2>&1 &
SIM_PID=$!
exec 9>"$WORK/sim.in"  # keeps the simulator's commands open until the end
for _ in $(seq 50); do [ -s "$WORK/sim.out" ] && break; sleep 0.1; done
SIM_PORT=$(head -1 "$WORK/sim.out")
# The example's document, with its Unity gateway pointed at this simulator.
sed "s|<unigateway ip=\"[^\"]*\"|<unigateway ip=\"127.0.0.1:$SIM_PORT\"|" \
  "$ROOT/examples/demo/tsr.tsr" >"$WORK/bench.tsr"
TMPDIR="$WORK" "$BUILD/tessora-cli" serve "$WORK/bench.tsr" --port "$PORT_TSR" \
  2>"$WORK/tessora.log" &
TSR_PID=$!
for _ in $(seq 50); do grep -q Serving "$WORK/tessora.log" 2>/dev/null && break; sleep 0.1; done
WEB="$WORK/TSR10.TMP/WEB"
[ -f "$WEB/index.html" ] || { echo "tessora-cli serve did not start" >&2; cat "$WORK/tessora.log" >&2; exit 1; }
for _ in $(seq 100); do grep -q "Connected to Unity\|Connecté" "$WORK/tessora.log" && break; sleep 0.1; done
ANSWER=$(curl -s -X POST "http://127.0.0.1:$PORT_TSR/UNI%MW0" || true)
[ "$ANSWER" = 1234 ] || echo "warning: the Unity simulator answers '$ANSWER', not 1234" >&2

mkdir -p "$WORK/nginx"
# The working directory is private to its owner: nginx's worker must run as the same user.
USER_LINE=""
[ "$(id -u)" -eq 0 ] && USER_LINE="user root;"
cat >"$WORK/nginx.conf" <<CONF
$USER_LINE
worker_processes 1;
daemon on;
pid $WORK/nginx.pid;
error_log $WORK/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  keepalive_timeout 0;
  client_body_temp_path $WORK/nginx;
  proxy_temp_path $WORK/nginx;
  fastcgi_temp_path $WORK/nginx;
  uwsgi_temp_path $WORK/nginx;
  scgi_temp_path $WORK/nginx;
  server {
    listen 127.0.0.1:$PORT_NGINX;
    root $WEB;
    location / { }
  }
}
CONF
nginx -c "$WORK/nginx.conf" -p "$WORK/nginx"
sleep 0.3

cat >"$WORK/post.lua" <<'LUA'
wrk.method = "POST"
LUA

NGINX_MASTER=$(cat "$WORK/nginx.pid")
# CPU time of a process and its children so far, in clock ticks (user + system, all threads).
ticks() {
  local pid total=0 t
  for pid in "$@"; do
    t=$(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || echo 0)
    total=$((total + t))
  done
  echo "$total"
}
nginx_pids() { echo "$NGINX_MASTER" $(pgrep -P "$NGINX_MASTER" || true); }
HZ=$(getconf CLK_TCK)

# Runs wrk with C connections against URL while counting the CPU of the server's processes PIDS;
# prints "req/s p50 p99 cpu-ms-per-10k dropped".
measure() {
  local c=$1 url=$2 pids=$3; shift 3
  local before after out
  before=$(ticks $pids)
  local threads=2; [ "$c" -lt 2 ] && threads=1
  out=$(wrk -t"$threads" -c"$c" -d"${SECONDS_RUN}s" --latency -H "Connection: close" "$@" "$url")
  after=$(ticks $pids)
  local rps p50 p99 total dropped cpu
  rps=$(awk '/^Requests\/sec/ {print $2}' <<<"$out")
  p50=$(awk '$1 == "50%" {print $2}' <<<"$out")
  p99=$(awk '$1 == "99%" {print $2}' <<<"$out")
  total=$(awk '/requests in/ {print $1}' <<<"$out")
  # Connections refused, reset or timed out, and answers other than 200, count as dropped.
  dropped=$(awk '/Socket errors/ {gsub(/,/, ""); s = $4 + $6 + $8 + $10} /Non-2xx/ {n = $NF} END {print s + n + 0}' <<<"$out")
  cpu=$(awk -v t=$((after - before)) -v hz="$HZ" -v n="$total" 'BEGIN { if (n > 0) printf "%.0f", t * 1000 / hz / n * 10000; else print "-" }')
  printf '%-10s %-9s %-9s %-12s %s\n' "$rps" "$p50" "$p99" "$cpu" "$dropped"
}

JQM=$(cd "$WEB" && ls jquery.mobile-*.min.js | head -1)
CONCURRENCY=${CONCURRENCY:-"1 10 50 128 200"}
printf '%-44s %-10s %-9s %-9s %-12s %s\n' "target" "req/s" "p50" "p99" "cpu-ms/10k" "dropped"
for file in index.html "$JQM"; do
  size=$(stat -c %s "$WEB/$file")
  for c in $CONCURRENCY; do
    printf '%-44s ' "tessora GET /$file ($size B) c=$c"; measure "$c" "http://127.0.0.1:$PORT_TSR/$file" "$TSR_PID"
    printf '%-44s ' "nginx   GET /$file ($size B) c=$c"; measure "$c" "http://127.0.0.1:$PORT_NGINX/$file" "$(nginx_pids)"
  done
done
for c in 1 50; do
  printf '%-44s ' "tessora POST /SQLselect 1 (SQLite) c=$c"; measure "$c" "http://127.0.0.1:$PORT_TSR/SQLselect%201" "$TSR_PID" -s "$WORK/post.lua"
  printf '%-44s ' "tessora POST /UNI%MW0 (simulator) c=$c"; measure "$c" "http://127.0.0.1:$PORT_TSR/UNI%MW0" "$TSR_PID" -s "$WORK/post.lua"
done
echo "(${SECONDS_RUN}s per line, one connection per request, loopback; nginx with one worker;"
echo " cpu-ms/10k: CPU time of the server's processes per 10,000 requests)"
