#!/bin/sh
# The shared library defines exactly one dynamic symbol: zelwireOrdinal.
set -eu
symbols=$(nm -D --defined-only "$1" | awk '{print $3}' | grep -v '^$' | sort)
if [ "$symbols" != "zelwireOrdinal" ]; then
  echo "expected only zelwireOrdinal, found:"
  echo "$symbols"
  exit 1
fi
echo "only zelwireOrdinal is exported"
