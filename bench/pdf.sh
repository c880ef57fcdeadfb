#!/usr/bin/env bash
# Times the print program laying out a 10,000-row table (6 columns, as the
# text export writes it) into PDF pages. Prints RESULT pdf_10k_s=SECONDS.
#   bench/pdf.sh [BUILD_DIR]     (default: build; builds corvane-print if needed)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${CORVANE_BUILD:-build}}
[ -x "$build/bin/corvane-print" ] || cmake --build "$build" --target corvane-print >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-bench-pdf.XXXXXX")
trap 'rm -rf "$work"' EXIT

awk 'BEGIN {
  printf "id\tname\tcity\tamount\tcreated\tnote\t\r\n"
  for (i = 1; i <= 10000; i++)
    printf "%d\tCustomer %d\tCity %d\t%.2f\t2020-%02d-%02d 12:%02d:00\t%s\t\r\n", i, i, i % 97, i * 3.17, i % 12 + 1, i % 28 + 1, i % 60, (i % 5 ? "note for row " i : "")
}' >"$work/tmp.txt"

start=$(date +%s.%N)
CORVANE_PRINT_TO_PDF="$work/out.pdf" "$build/bin/corvane-print" /p "$work/tmp.txt"
end=$(date +%s.%N)
pages=$(pdfinfo "$work/out.pdf" 2>/dev/null | awk '/^Pages:/ {print $2}')
echo "pdf: 10,000 rows -> ${pages:-?} pages, $(du -k "$work/out.pdf" | cut -f1) KiB" >&2
echo "RESULT pdf_10k_s=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", e - s }')"
