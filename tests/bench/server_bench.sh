#!/usr/bin/env bash
# Web server throughput on loopback, side by side with nginx (one worker) serving the same files:
# wrk with one connection per request (Connection: close) against GET of the generated
# index.html, and against a device POST. Prints a table of requests per second and latencies.
# Usage: tests/bench/server_bench.sh BUILD_DIR [SECONDS] [CONNECTIONS]
set -euo pipefail
BUILD=${1:?build directory}
SECONDS_RUN=${2:-10}
CONNECTIONS=${3:-50}
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WORK=$(mktemp -d)
PORT_TSR=18181
PORT_NGINX=18182
cleanup() {
  [ -n "${TSR_PID:-}" ] && kill "$TSR_PID" 2>/dev/null || true
  [ -f "$WORK/nginx.pid" ] && kill "$(cat "$WORK/nginx.pid")" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

TMPDIR="$WORK" "$BUILD/tessora-cli" serve "$ROOT/examples/demo.tsr" --port "$PORT_TSR" \
  2>"$WORK/tessora.log" &
TSR_PID=$!
for _ in $(seq 50); do grep -q Serving "$WORK/tessora.log" 2>/dev/null && break; sleep 0.1; done
WEB="$WORK/TSR10.TMP/WEB"
[ -f "$WEB/index.html" ] || { echo "tessora-cli serve did not start" >&2; cat "$WORK/tessora.log" >&2; exit 1; }

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

# Runs wrk and prints "requests/s p50 p99" for it.
measure() {
  local out
  out=$(wrk -t2 -c"$CONNECTIONS" -d"${SECONDS_RUN}s" --latency -H "Connection: close" "$@")
  local rps p50 p99
  rps=$(awk '/^Requests\/sec/ {print $2}' <<<"$out")
  p50=$(awk '$1 == "50%" {print $2}' <<<"$out")
  p99=$(awk '$1 == "99%" {print $2}' <<<"$out")
  local errors
  errors=$(awk '/Non-2xx|Socket errors/ {print}' <<<"$out" | tr '\n' ' ')
  printf '%-10s %-8s %-9s %s\n' "$rps" "$p50" "$p99" "$errors"
}

printf '%-32s %-10s %-8s %-9s %s\n' "target" "req/s" "p50" "p99" "errors"
printf '%-32s ' "tessora GET /index.html"; measure "http://127.0.0.1:$PORT_TSR/index.html"
printf '%-32s ' "nginx   GET /index.html"; measure "http://127.0.0.1:$PORT_NGINX/index.html"
printf '%-32s ' "tessora POST /UNI%MW0 (device)"; measure -s "$WORK/post.lua" "http://127.0.0.1:$PORT_TSR/UNI%MW0"
echo "($CONNECTIONS connections, ${SECONDS_RUN}s each, one connection per request, loopback)"
