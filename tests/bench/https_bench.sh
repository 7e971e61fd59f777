#!/usr/bin/env bash
# HTTPS side by side with nginx (one worker, keep-alive off, the same certificate, files and
# session settings): openssl s_time opens one connection per request for GET /index.html, with
# full handshakes (-new) and with resumed sessions (-reuse), at 1 to 50 connections at once
# (that many s_time processes). Prints requests per second and the server's CPU time per 10,000
# requests.
# Usage: tests/bench/https_bench.sh BUILD_DIR [SECONDS]   (CONCURRENCY="1 10 ..." to choose)
set -euo pipefail
BUILD=${1:?build directory}
SECONDS_RUN=${2:-5}
CONCURRENCY=${CONCURRENCY:-"1 10 50"}
WORK=$(mktemp -d)
cleanup() {
  [ -n "${TSR_PID:-}" ] && kill "$TSR_PID" 2>/dev/null || true
  [ -f "$WORK/nginx.pid" ] && kill "$(cat "$WORK/nginx.pid")" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
PORT_TSR=$(free_port)
PORT_NGINX=$(free_port)

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30 -subj /CN=localhost \
  -addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout "$WORK/key.pem" -out "$WORK/cert.pem" \
  2>/dev/null
printf '<?xml version="1.0"?>\n<tsr>\n<project webserveron="1" webserverport="0">\n<page name="P"><label text="Level" id="label1"/></page>\n</project>\n</tsr>\n' \
  >"$WORK/bench.tsr"
TMPDIR="$WORK" "$BUILD/tessora-cli" serve "$WORK/bench.tsr" --port "$PORT_TSR" \
  --tls-cert "$WORK/cert.pem" --tls-key "$WORK/key.pem" 2>"$WORK/tessora.log" &
TSR_PID=$!
for _ in $(seq 50); do grep -q Serving "$WORK/tessora.log" 2>/dev/null && break; sleep 0.1; done
WEB="$WORK/TSR10.TMP/WEB"
[ -f "$WEB/index.html" ] || { echo "tessora-cli serve did not start" >&2; cat "$WORK/tessora.log" >&2; exit 1; }

mkdir -p "$WORK/nginx"
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
    listen 127.0.0.1:$PORT_NGINX ssl;
    ssl_certificate $WORK/cert.pem;
    ssl_certificate_key $WORK/key.pem;
    ssl_protocols TLSv1.2 TLSv1.3;
    ssl_session_cache builtin;
    ssl_session_tickets on;
    ssl_session_timeout 1h;
    root $WEB;
  }
}
CONF
nginx -c "$WORK/nginx.conf" -p "$WORK/nginx"
sleep 0.3
NGINX_WORKER=$(pgrep -P "$(cat "$WORK/nginx.pid")" | head -1)

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
TICK_MS=$((1000 / $(getconf CLK_TCK)))

# One line of the table: SERVER PID PORT MODE CONNECTIONS.
measure() {
  local name=$1 pid=$2 port=$3 mode=$4 conns=$5 i total=0 before after clients=()
  before=$(cpu_ticks "$pid")
  for i in $(seq "$conns"); do
    openssl s_time -connect "127.0.0.1:$port" -www /index.html "-$mode" -time "$SECONDS_RUN" \
      >"$WORK/s_time.$i" 2>&1 &
    clients+=("$!")
  done
  wait "${clients[@]}" || true
  after=$(cpu_ticks "$pid")
  for i in $(seq "$conns"); do
    n=$(grep -o '^[0-9]* connections in [0-9.]*s' "$WORK/s_time.$i" | head -1 | cut -d' ' -f1)
    total=$((total + ${n:-0}))
  done
  local rate=$((total / SECONDS_RUN))
  local cpu="-"
  [ "$total" -gt 0 ] && cpu=$(( (after - before) * TICK_MS * 10000 / total ))
  printf '| %s | %s | %d | %d | %s |\n' "$name" "$mode" "$conns" "$rate" "$cpu"
}

echo
echo "HTTPS, one connection per request, GET /index.html ($(stat -c %s "$WEB/index.html") bytes), ${SECONDS_RUN} s per line"
echo
echo "| server | handshakes | conns | req/s | cpu-ms/10k |"
echo "|---|---|---|---|---|"
for mode in new reuse; do
  for c in $CONCURRENCY; do
    measure tessora "$TSR_PID" "$PORT_TSR" "$mode" "$c"
    measure nginx "$NGINX_WORKER" "$PORT_NGINX" "$mode" "$c"
  done
done
