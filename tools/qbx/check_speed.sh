#!/bin/sh
# Times a full `qbx check` against a full `qbx dump` of one sample catalogue
# and prints the ratio (the check is meant to take at most about three
# times the dump). Build qbx first (a Release build for figures that mean
# anything):
#   tools/qbx/check_speed.sh BUILD_DIR [RECORDS]
set -eu
build=${1:?usage: check_speed.sh BUILD_DIR [RECORDS]}
records=${2:-100000}
qbx=$build/tools/qbx/qbx
work=$(mktemp -d "${TMPDIR:-/tmp}/qbx-speed-XXXXXX")
trap 'rm -rf "$work"' EXIT
export QUILLBOX_INI="$work/none.ini"

"$qbx" sample "$work/catalogue.rcx" --records "$records" >/dev/null
now() { date +%s.%N; }
t0=$(now)
"$qbx" dump "$work/catalogue.rcx" >/dev/null
t1=$(now)
"$qbx" check "$work/catalogue.rcx" 2>/dev/null
t2=$(now)
awk -v a="$t0" -v b="$t1" -v c="$t2" -v n="$records" 'BEGIN {
  dump = b - a; check = c - b;
  printf "%d records: dump %.2f s, check %.2f s, check/dump %.2f\n", n, dump, check, check / dump
}'
