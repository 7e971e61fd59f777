#!/usr/bin/env bash
# Sets up, builds and runs Tessora on Debian 12.
#   ./tessora.sh run    install what is missing, build, run the program
#   ./tessora.sh test   install what is missing, build, run every test
#   ./tessora.sh build  install what is missing and build only
#   ./tessora.sh bench  install what is missing, build, run the benchmarks
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BUILD=${TESSORA_BUILD_DIR:-$ROOT/build}
BUILD_ASAN=${TESSORA_ASAN_BUILD_DIR:-$ROOT/build-asan}
BUILD_FUZZ=${TESSORA_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
JOBS=${TESSORA_JOBS:-2}
# ccache keys on paths relative to the checkout, so another clone of the project (a CI run)
# reuses what this one compiled.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$ROOT}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
FUZZ_SECONDS=${TESSORA_FUZZ_SECONDS:-20}
FUZZ_TARGETS="fuzz_template fuzz_load_document fuzz_request fuzz_handle_request fuzz_kx_block fuzz_corvane_item fuzz_modbus_answer fuzz_sign_in fuzz_mqtt_item"

# Debian packages the build, the program and the tests need.
APT_PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache git python3
  libpugixml-dev libzip-dev nlohmann-json3-dev libsqlite3-dev sqlite3
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  chromium
  libpango1.0-dev libcairo2-dev libcups2-dev fonts-liberation poppler-utils
  libwxgtk3.2-dev libwxgtk-webview3.2-dev xvfb xauth xdotool imagemagick pandoc
  libmodbus-dev python3-pymodbus python3-serial python3-serial-asyncio
  libsodium-dev libssl-dev openssl curl
  libmosquitto-dev mosquitto mosquitto-clients
)

# What the benchmarks compare against and drive: nginx and wrk (./tessora.sh bench only).
BENCH_PACKAGES=(wrk nginx-light curl)

log() { printf '\033[1;34m==> %s\033[0m\n' "$*"; }

install_missing() {
  local missing=() p
  for p in "${APT_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  # npm installs the web libraries; a Node.js that already brings its own npm is kept.
  command -v npm >/dev/null 2>&1 || missing+=(nodejs npm)
  # npm ci compiles node-snap7 (the S7 server of the tests) with node-gyp against the Node.js
  # headers in /usr/include/node: Debian's nodejs keeps them in libnode-dev, a Node.js that
  # brings its own npm ships them itself (and its files would clash with libnode-dev's).
  [ -f /usr/include/node/node_api.h ] || missing+=(libnode-dev)
  if ((${#missing[@]})); then
    log "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
  install_web_libraries
}

# The web libraries of the program library directory (web/package-lock.json),
# installed again when web/node_modules is missing or older than the lockfile.
install_web_libraries() {
  local web="$ROOT/web"
  if [ ! -d "$web/node_modules" ] || [ "$web/package-lock.json" -nt "$web/node_modules" ]; then
    log "Installing the web libraries (npm ci in web/)"
    # nodedir: node-gyp builds against the installed headers instead of downloading them.
    (cd "$web" && npm_config_nodedir=/usr npm ci --no-audit --no-fund)
    touch "$web/node_modules"
  fi
}

build() {
  log "Building in $BUILD"
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$BUILD" -j "$JOBS"
}

# The simulators the example project is bound to (Unity on 127.0.0.1:5020, S7 on
# 127.0.0.1:10102, Modbus TCP on 127.0.0.1:5502: ports that need no privileges) run beside the
# program, which runs in the background too so that Ctrl-C or SIGTERM to this script ends them
# all at once.
CHILD_PIDS=()
stop_children() {
  local i
  # The program first (it ends its gateways' sessions), then the simulators.
  for ((i = ${#CHILD_PIDS[@]} - 1; i >= 0; i--)); do
    kill -TERM "${CHILD_PIDS[i]}" 2>/dev/null || true
    wait "${CHILD_PIDS[i]}" 2>/dev/null || true
  done
  CHILD_PIDS=()
}
# The example's gateways name these ports: when another program holds one, the simulator could
# not start and the panel would read nothing, so the run stops before and says what to do.
SIMULATOR_PORTS=(5020 10102 5502)
port_taken() {
  python3 -c 'import socket, sys
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
try:
    s.bind(("127.0.0.1", int(sys.argv[1])))
except OSError:
    sys.exit(0)
sys.exit(1)' "$1"
}
check_simulator_ports() {
  local port taken=()
  for port in "${SIMULATOR_PORTS[@]}"; do
    port_taken "$port" && taken+=("$port")
  done
  ((${#taken[@]})) || return 0
  if [[ "${LC_ALL:-${LC_MESSAGES:-${LANG:-}}}" == fr* ]]; then
    printf '\033[1;31m==> Port(s) 127.0.0.1:%s déjà pris par un autre programme.\033[0m\n' "${taken[*]}" >&2
    printf 'Le projet exemple y attend ses simulateurs (Unity 5020, S7 10102, Modbus TCP 5502).\n' >&2
    printf 'Arrêtez ce programme (ss -ltnp voit lequel, par exemple un autre ./tessora.sh run), puis relancez.\n' >&2
  else
    printf '\033[1;31m==> Port(s) 127.0.0.1:%s already taken by another program.\033[0m\n' "${taken[*]}" >&2
    printf 'The example project expects its simulators there (Unity 5020, S7 10102, Modbus TCP 5502).\n' >&2
    printf 'Stop that program (ss -ltnp shows which, for example another ./tessora.sh run), then run again.\n' >&2
  fi
  exit 1
}
run_beside_simulators() {
  local family program
  check_simulator_ports
  trap stop_children EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  for family in unity s7 modbus; do
    "$BUILD/tessora-cli" simulate "$family" &
    CHILD_PIDS+=("$!")
  done
  sleep 0.3
  "$@" &
  program=$!
  CHILD_PIDS+=("$program")
  wait "$program" || true
}

run_program() {
  local demo="$ROOT/examples/demo.tsr"
  # The designer when there is a display to show it on; else the example is served headless.
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$BUILD/tessora" ]; then
    log "The designer on the example project $demo, beside its simulators"
    run_beside_simulators "$BUILD/tessora" "$demo"
    return
  fi
  log "The example project $demo"
  "$BUILD/tessora-cli" show "$demo"
  log "Serving it beside its simulators (Ctrl-C stops); open the address below in a browser"
  run_beside_simulators "$BUILD/tessora-cli" serve "$demo" ${TESSORA_PORT:+--port "$TESSORA_PORT"}
}

run_benchmarks() {
  log "Benchmarks: the generator"
  "$BUILD/bench_generator" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
  log "Benchmarks: the whole process of tessora-cli generate"
  "$BUILD/bench_cli_generate" "$BUILD/tessora-cli"
  log "Benchmarks: many phones on one controller"
  "$BUILD/tests/bench_phones" "$BUILD/tessora-cli" "${TESSORA_BENCH_SECONDS:-8}"
  log "Benchmarks: the web server beside nginx"
  "$ROOT/tests/bench/server_bench.sh" "$BUILD"
  log "Benchmarks: HTTPS beside nginx"
  "$ROOT/tests/bench/https_bench.sh" "$BUILD"
}

run_tests() {
  log "Unit tests"
  ctest --test-dir "$BUILD" --output-on-failure -j "$JOBS"

  log "Unit tests with AddressSanitizer and UndefinedBehaviorSanitizer"
  cmake -S "$ROOT" -B "$BUILD_ASAN" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSORA_SANITIZE=ON >/dev/null
  cmake --build "$BUILD_ASAN" -j "$JOBS" --target unit_tests integration_tests tessora-cli
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp" \
    ctest --test-dir "$BUILD_ASAN" --output-on-failure -j "$JOBS"

  log "Fuzz targets (${FUZZ_SECONDS}s each)"
  CXX=clang++ cmake -S "$ROOT" -B "$BUILD_FUZZ" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTESSORA_FUZZ=ON -DTESSORA_TESTS=OFF >/dev/null
  cmake --build "$BUILD_FUZZ" -j "$JOBS" --target $FUZZ_TARGETS
  local target
  for target in $FUZZ_TARGETS; do
    mkdir -p "$BUILD_FUZZ/corpus/$target"
    "$BUILD_FUZZ/tests/fuzz/$target" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 \
      -artifact_prefix="$BUILD_FUZZ/" "$BUILD_FUZZ/corpus/$target" "$ROOT/tests/fuzz/seeds/$target" \
      2>"$BUILD_FUZZ/$target.log" || { tail -50 "$BUILD_FUZZ/$target.log"; return 1; }
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$BUILD_FUZZ/$target.log" | sed "s/^/$target: /"
  done
}

case "${1:-run}" in
  run) install_missing; build; run_program ;;
  test) install_missing; build; run_tests ;;
  build) install_missing; build ;;
  bench) install_missing "${BENCH_PACKAGES[@]}"; build; run_benchmarks ;;
  *) echo "usage: $0 run|test|build|bench" >&2; exit 2 ;;
esac
