#!/usr/bin/env bash
# Runs Kelvane's benchmarks and prints every figure with its goal:
#   bash bench/rodar.sh              # 1 to 6 (about 40 minutes on 2 cores)
#   bash bench/rodar.sh --so 3       # only some; see bench/bancada.py --help
# Installs what they need (hyperfine, FreeTDS's tsql), builds into $KELVANE_BUILD (default
# build-bench) with the benchmark helpers, then runs bench/bancada.py. Never part of CTest.
set -euo pipefail
raiz="$(cd "$(dirname "$0")/.." && pwd)"
build="${KELVANE_BUILD:-$raiz/build-bench}"
cd "$raiz"

pacotes=(
  g++ cmake make pkg-config libgtest-dev unixodbc-dev tdsodbc qt6-base-dev libcurl4-openssl-dev
  p7zip-full ncftp python3 python3-pyftpdlib
  hyperfine freetds-bin curl           # only the benchmarks need these
)
bash scripts/instalar_pacotes.sh "${pacotes[@]}"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_WERROR=ON -DKELVANE_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target kelvane pico_memoria janela_bench envio_bench
exec /usr/bin/python3 bench/bancada.py --build "$build" "$@"
