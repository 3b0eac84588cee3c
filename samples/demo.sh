#!/bin/sh
# Repairs a copy of the sample and shows its first bytes before and after.
# Usage: demo.sh TOOL SAMPLE COPY
set -eu
tool=$1 sample=$2 copy=$3
cp "$sample" "$copy"
show() { printf '%-7s' "$1"; od -A n -t x1 -N 10 "$copy"; }
show before
"$tool" "$copy"
show after
echo "repaired copy: $copy"
