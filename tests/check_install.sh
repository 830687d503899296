#!/bin/sh
# check_install.sh BUILD_DIR: installs the build into a scratch prefix and
# checks that both tools and their manual pages land where they belong, that
# the pages render without a warning, and that the installed tools run.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for tool in pcx2kob kob2pcx; do
  test -x "$prefix/bin/$tool" || { echo "missing bin/$tool" >&2; exit 1; }
  page=$prefix/share/man/man1/$tool.1.gz
  test -f "$page" || { echo "missing $page" >&2; exit 1; }
  warnings=$(gzip -dc "$page" | groff -man -ww -z 2>&1)
  [ -z "$warnings" ] || { echo "$tool.1: $warnings" >&2; exit 1; }
  status=0
  "$prefix/bin/$tool" -h 2>/dev/null || status=$?
  [ "$status" -eq 1 ] || { echo "$tool -h exited with $status" >&2; exit 1; }
done
