#!/usr/bin/env bash
# Set up a fresh Debian 12 machine, build Vantrel and either run it or test it.
#   scripts/setup.sh run              build, then run the client's main job against the
#                                     embedded default (test gateway on loopback)
#   scripts/setup.sh test             build, then run the whole test suite
#   scripts/setup.sh test --sanitize  the same with AddressSanitizer + UBSan (build-asan/)
#   scripts/setup.sh test --tsan      the threaded tests (scheduler, transfers, gateway)
#                                     with ThreadSanitizer (build-tsan/)
set -euo pipefail

mode=${1:-run}
variant=${2:-}
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"

packages=(cmake ninja-build g++ pkg-config ccache libssl-dev openssl libgtest-dev libgmock-dev
          libbenchmark-dev unzip zip python3 python3-dbf qt6-base-dev qt6-translations-l10n fonts-noto-cjk
          libsystemd-dev libcpp-httplib-dev nlohmann-json3-dev dpkg-dev lintian libxlsxwriter-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  echo "installing: ${missing[*]}"
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_WERROR=ON)
if [ "$variant" = "--sanitize" ]; then
  build=build-asan
  flags=(-DCMAKE_BUILD_TYPE=Debug -DVANTREL_WERROR=ON -DVANTREL_SANITIZE=ON)
elif [ "$variant" = "--tsan" ]; then
  build=build-tsan
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_WERROR=ON -DVANTREL_TSAN=ON)
fi

cmake -S . -B "$build" -G Ninja "${flags[@]}"
if [ "$variant" = "--tsan" ]; then
  [ "$mode" = test ] || { echo "--tsan is for: $0 test --tsan" >&2; exit 2; }
  # The programs whose threads share state: the scheduler, the real-time service, the
  # transfers, the gateway, the update server and serve's monitor and metrics listener.
  targets=(execution_scheduler_test execution_serve_test execution_mailbox_session_test
           execution_realtime_test transfer_gateway_test gateway_session_test
           update_fast_ftp_test service_serve_test)
  cmake --build "$build" --target vantrel-cli "${targets[@]}"
  export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1}
  # Every program runs, whatever an earlier one did; the summary names each one's result.
  failed=()
  results=()
  for t in "${targets[@]}"; do
    echo "== $t"
    if "$build/tests/$t"; then
      results+=("passed  $t")
    else
      results+=("FAILED  $t (exit $?)")
      failed+=("$t")
    fi
  done
  echo "== thread-sanitizer summary"
  printf '%s\n' "${results[@]}"
  ((${#failed[@]} == 0)) || { echo "${#failed[@]} of ${#targets[@]} programs failed" >&2; exit 1; }
  exit 0
fi
cmake --build "$build"

case "$mode" in
  run)
    exec bash "$top/scripts/demo.sh" "$top/$build"
    ;;
  test)
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
    export QT_QPA_PLATFORM=offscreen
    ctest --test-dir "$build" --output-on-failure -j2 --timeout 300
    ;;
  *)
    echo "usage: $0 run|test [--sanitize]" >&2
    exit 2
    ;;
esac
