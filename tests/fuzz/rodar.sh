#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds, side by
# side (one per core). New corpus entries go to <build>/corpus, crashes to <build>/achados.
#   bash tests/fuzz/rodar.sh 600        # ten minutes
# KELVANE_BUILD_FUZZ names the build folder (default build-fuzz).
set -euo pipefail
segundos="${1:?uso: rodar.sh <segundos>}"
raiz="$(cd "$(dirname "$0")/../.." && pwd)"
build="${KELVANE_BUILD_FUZZ:-$raiz/build-fuzz}"
cd "$raiz"

pacotes=(clang libclang-rt-dev cmake make libgtest-dev unixodbc-dev tdsodbc qt6-base-dev)
bash scripts/instalar_pacotes.sh "${pacotes[@]}"

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_WERROR=ON \
  -DKELVANE_FUZZ=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_ini fuzz_cripto

alvos=(ini cripto)
pids=()
for a in "${alvos[@]}"; do
  rm -rf "$build/achados/$a"  # findings of earlier runs are regression tests by now
  mkdir -p "$build/corpus/$a" "$build/achados/$a"
  (
    inicio=$SECONDS
    estado=0
    "$build/tests/fuzz/fuzz_$a" "$build/corpus/$a" "tests/fuzz/corpus/$a" \
      -max_total_time="$segundos" -print_final_stats=1 -max_len=4096 \
      -artifact_prefix="$build/achados/$a/" >"$build/fuzz_$a.log" 2>&1 || estado=$?
    echo $((SECONDS - inicio)) >"$build/fuzz_$a.segundos"
    exit "$estado"
  ) &
  pids+=($!)
done
estado=0
for p in "${pids[@]}"; do wait "$p" || estado=1; done

for a in "${alvos[@]}"; do
  log="$build/fuzz_$a.log"
  execucoes=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  porSegundo=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  cobertura=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo "?")
  entradas=$(find "$build/corpus/$a" -type f | wc -l)
  achados=$(find "$build/achados/$a" -type f | wc -l)
  echo "fuzz_$a: $(cat "$build/fuzz_$a.segundos") s, $execucoes execuções ($porSegundo/s), cobertura $cobertura arestas, corpus $entradas, achados $achados"
  if ((achados)); then
    grep -m1 -E 'invariante violada|ERROR: (AddressSanitizer|libFuzzer)|runtime error' "$log" || true
    find "$build/achados/$a" -type f
  fi
done
exit "$estado"
