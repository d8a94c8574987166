#!/bin/bash
# The fault-injection figures for the issue notes: how fast stations notice a dead link and are registered
# again, and how many alarms were lost. Runs the two fault system tests (root: network namespaces) and keeps
# their figure and result lines. Usage: bench/faults/run.sh [build/bin]
cd "$(dirname "$0")/../.." || exit 1
bin=${1:-build/bin}
rc=0
for t in faults_link faults_station; do
    bash "tests/system/test_$t.sh" "$bin" | grep -E '^# figure|^not ok|passed' || rc=1
    [ "${PIPESTATUS[0]}" -eq 0 ] || rc=1
done
exit $rc
