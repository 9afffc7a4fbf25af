#!/usr/bin/env bash
# Runs one golden case of kelvara-cli: run_case.sh CLI CASE_DIR CORPUS_DIR WORK_DIR
set -u
export CLI=$1 CASE=$2 CORPUS=$3 WORK=$4
export FIXTURES=$(cd "$(dirname "$0")/.." && pwd)/fixtures
if [ -e "$CASE/needs-corpus" ] && [ ! -d "$CORPUS" ]; then
    echo "corpus not found at $CORPUS: skipped"
    exit 77
fi
rm -rf "$WORK" && mkdir -p "$WORK" && cd "$WORK" || exit 1
if [ -f "$CASE/setup" ]; then
    bash "$CASE/setup" || { echo "setup failed"; exit 1; }
fi
bash -c "$(cat "$CASE/cmd")" >"$WORK/.stdout" 2>"$WORK/.stderr"
status=$?
want_status=0
[ -f "$CASE/status" ] && want_status=$(tr -d '[:space:]' <"$CASE/status")
failed=0
if [ "$want_status" = nonzero ]; then
    [ "$status" -ne 0 ] || { echo "exit status 0, expected a failure"; failed=1; }
elif [ "$status" -ne "$want_status" ]; then
    echo "exit status $status, expected $want_status"; failed=1
fi
if ! diff -u "$CASE/stdout" "$WORK/.stdout"; then
    echo "standard output differs"; failed=1
fi
if [ -f "$CASE/stderr" ] && ! diff -u "$CASE/stderr" "$WORK/.stderr"; then
    echo "standard error differs"; failed=1
fi
[ "$failed" -eq 0 ] || { echo "--- stderr:"; cat "$WORK/.stderr"; }
exit $failed
