#!/bin/sh
# Fails when libvarnelo.so exports a defined function or object whose name
# does not begin with varnelo_.
set -eu
lib="$1"
bad=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWwDdBbRrVvi]$/ {print $3}' | grep -v '^varnelo_' || true)
if [ -n "$bad" ]; then
  echo "unexpected exports in $lib:"
  echo "$bad"
  exit 1
fi
count=$(nm -D --defined-only "$lib" | grep -c ' varnelo_' || true)
echo "$lib exports $count varnelo_ symbols and nothing else"
