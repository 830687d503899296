#!/bin/sh
# check_install.sh BUILD_DIR: installs the build into a scratch prefix and
# checks that both tools and their manual pages land where they belong, that
# the pages render without a warning, and that the installed tools run; and
# that the DOS side lands in share/pcx2kob, where a program built with bcc
# from the installed headers links with the installed library; and that the
# documentation, its pictures and the licence land in share/doc/pcx2kob.
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
doc=$prefix/share/doc/pcx2kob
for file in "$(dirname "$0")"/../docs/*.md "$(dirname "$0")"/../docs/*.png "$(dirname "$0")"/../LICENSE; do
  cmp -s "$file" "$doc/$(basename "$file")" || { echo "share/doc/pcx2kob/$(basename "$file") is not the tree's" >&2; exit 1; }
done
grep -q '^License: MIT$' "$doc/copyright" || { echo "share/doc/pcx2kob/copyright names no licence" >&2; exit 1; }
data=$prefix/share/pcx2kob
for file in kob.h kob.inc flat32.inc kobseam.h modex.h modexseam.h vgaregs.h kobcheck.c kobdraw.c modex.c kobdraw32.asm \
  kobcomp32.asm; do
  test -f "$data/modex/$file" || { echo "missing share/pcx2kob/modex/$file" >&2; exit 1; }
done
[ -f "$build/dos/libmodex.a" ] || exit 0
for built in dos/libmodex.a KOBVIEW.COM; do
  cmp -s "$build/$built" "$data/dos/${built#dos/}" || { echo "share/pcx2kob/dos/${built#dos/} is not the build's" >&2; exit 1; }
done
cat >"$prefix/game.c" <<'GAME'
#include "kob.h"
#include "modex.h"
int main() {
  struct kob_sprite sprite;
  struct kob_fault fault;
  kob_size strips[2];
  if (kob_open(&sprite, (unsigned char *)"", (kob_size)0, strips, 2, &fault) == KOB_OK) return 1;
  modex_enter();
  modex_leave();
  return 0;
}
GAME
(cd "$prefix" && bcc -ansi -Md -I"$data/modex" -o GAME.COM game.c "$data/dos/libmodex.a") ||
  { echo "a program does not link with share/pcx2kob/dos/libmodex.a" >&2; exit 1; }
test -s "$prefix/GAME.COM"
