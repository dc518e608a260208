#!/usr/bin/env bash
# make test: runs every stage (a make target) whatever the others gave, each
# with its output in build/logs/STAGE.log, and prints one verdict line per
# stage, then the overall line "stages: N passed, M failed" (and ", K skipped"
# when any was). A failed stage shows the end of its log. A stage that cannot
# run on this machine exits 77 after a line "skipped: REASON" (make reports
# that as "Error 77"); it counts as skipped, never as passed.
#   tests/run_stages.sh STAGE...
set -uo pipefail

logs=build/logs
mkdir -p "$logs"
passed=0
failed=0
skipped=0
for stage in "$@"; do
  log=$logs/$stage.log
  start=$(date +%s)
  make --no-print-directory "$stage" > "$log" 2>&1 < /dev/null
  status=$?
  seconds=$(( $(date +%s) - start ))
  # The stage's own count: the last line of its log that reports one.
  summary=$(grep -E 'passed|failed|violations|interpreters' "$log" | tail -1 | sed -E 's/=+//g; s/^ +| +$//g')
  reason=$(grep -E '^skipped: ' "$log" | tail -1)
  if (( status != 0 )) && [ -n "$reason" ] && tail -1 "$log" | grep -qE '^make(\[[0-9]+\])?: \*\*\* .*Error 77$'; then
    skipped=$((skipped + 1))
    echo "stage $stage: skipped after ${seconds} s (${reason#skipped: })"
  elif (( status == 0 )); then
    passed=$((passed + 1))
    echo "stage $stage: passed in ${seconds} s${summary:+ ($summary)}"
  else
    failed=$((failed + 1))
    echo "stage $stage: FAILED in ${seconds} s; the end of $log:"
    tail -40 "$log" | cut -c1-300 | sed 's/^/    /'
  fi
done
echo "stages: $passed passed, $failed failed$( (( skipped == 0 )) || echo ", $skipped skipped")"
(( failed == 0 ))
