#!/usr/bin/env bash
# make test: runs every stage (a make target) whatever the others gave, each
# with its output in build/logs/STAGE.log, and prints one verdict line per
# stage, then the overall line "stages: N passed, M failed". A failed stage
# shows the end of its log.
#   tests/run_stages.sh STAGE...
set -uo pipefail

logs=build/logs
mkdir -p "$logs"
passed=0
failed=0
for stage in "$@"; do
  log=$logs/$stage.log
  start=$(date +%s)
  make --no-print-directory "$stage" > "$log" 2>&1 < /dev/null
  status=$?
  seconds=$(( $(date +%s) - start ))
  # The stage's own count: the last line of its log that reports one.
  summary=$(grep -E 'passed|failed|violations|interpreters' "$log" | tail -1 | sed -E 's/=+//g; s/^ +| +$//g')
  if (( status == 0 )); then
    passed=$((passed + 1))
    echo "stage $stage: passed in ${seconds} s${summary:+ ($summary)}"
  else
    failed=$((failed + 1))
    echo "stage $stage: FAILED in ${seconds} s; the end of $log:"
    tail -40 "$log" | cut -c1-300 | sed 's/^/    /'
  fi
done
echo "stages: $passed passed, $failed failed"
(( failed == 0 ))
