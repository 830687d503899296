#!/bin/sh
# Compiles the Mode X library the way an engine's build takes it: strict C89,
# every warning an error, optimised (some warnings need the optimiser).
# Usage: check_c89.sh <compiler> <modex directory>
set -e
cc=$1
dir=$2
for source in kobcheck.c kobbank.c kobdraw.c kobframe.c kobcomp.c modex.c vgamodel.c; do
  "$cc" -std=c89 -pedantic -Wall -Wextra -Werror -O2 -DKOB_HOST_MODEL -c "$dir/$source" -o /dev/null
done
# KOBVIEW's portable half, which the host fuzzes.
"$cc" -std=c89 -pedantic -Wall -Wextra -Werror -O2 -I"$dir" -c "$dir/../kobview/viewer.c" -o /dev/null
# And with a seam of the engine's own instead of the host model.
"$cc" -std=c89 -pedantic -Wall -Wextra -Werror -O2 '-DKOB_SELECT_PLANES(mask)=engine_select(mask)' \
  '-DKOB_STORE(offset, value)=engine_store(offset, value)' -include "$dir/../tests/engine_seam.h" \
  -c "$dir/kobdraw.c" -o /dev/null
"$cc" -std=c89 -pedantic -Wall -Wextra -Werror -O2 -DMODEX_OUT=engine_out -DMODEX_IN=engine_in \
  -DMODEX_SET_MODE=engine_set_mode -DMODEX_LOAD=engine_load -DMODEX_FILL=engine_fill -DMODEX_COPY=engine_copy \
  -DMODEX_TICKS=engine_ticks \
  -include "$dir/../tests/engine_seam.h" -c "$dir/modex.c" -o /dev/null

# A seam only partly defined is an error naming what is missing, whichever
# default would otherwise apply. Rows: source, macro defined, macro missing.
refuses() {
  source=$1
  missing=$2
  shift 2
  for default in -DKOB_HOST_MODEL -D__BCC__ -DNO_DEFAULT; do
    if said=$("$cc" -std=c89 -E "$default" -D__MSDOS__ "$@" "$dir/$source" 2>&1 >/dev/null); then
      echo "$source $default $*: compiled" >&2
      exit 1
    fi
    case $said in
    *"#error"*"$missing is"*) ;;
    *) echo "$source $default $*: not an error naming $missing: $said" >&2; exit 1 ;;
    esac
  done
}
refuses kobdraw.c KOB_STORE '-DKOB_SELECT_PLANES(mask)=engine_select(mask)'
refuses kobdraw.c KOB_SELECT_PLANES '-DKOB_STORE(offset, value)=engine_store(offset, value)'
all="MODEX_OUT MODEX_IN MODEX_SET_MODE MODEX_LOAD MODEX_FILL MODEX_COPY MODEX_TICKS"
for missing in $all; do
  set --
  for macro in $all; do [ "$macro" = "$missing" ] || set -- "$@" "-D$macro=x"; done
  refuses modex.c "$missing" "$@"
done
refuses modex.c MODEX_IN -DMODEX_OUT=x
# A compiler with no default seam built and tested here is an error naming
# both of kobdraw.c's macros.
for compiler in -D__TURBOC__ -D__BORLANDC__ -D__WATCOMC__ "-D__WATCOMC__ -D__386__" "-D_MSC_VER=600 -DM_I86"; do
  # shellcheck disable=SC2086
  if said=$("$cc" -std=c89 -E $compiler -D__MSDOS__ "$dir/kobdraw.c" 2>&1 >/dev/null); then
    echo "kobdraw.c $compiler: compiled" >&2
    exit 1
  fi
  case $said in
  *"#error"*"KOB_SELECT_PLANES and KOB_STORE"*) ;;
  *) echo "kobdraw.c $compiler: not an error naming both macros: $said" >&2; exit 1 ;;
  esac
done
# DJGPP's gcc takes the 32-bit flat build by itself: where this compiler
# makes i386 objects, each source built with __DJGPP__ is the very object
# built with MODEX_FLAT32, which the emulated 386 runs.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if echo 'int x;' | "$cc" -m32 -x c -c - -o "$scratch/probe.o" 2>/dev/null; then
  for source in kobcheck.c kobbank.c kobdraw.c kobframe.c kobcomp.c modex.c; do
    for build in -D__DJGPP__ -DMODEX_FLAT32; do
      "$cc" -m32 -march=i386 -ffreestanding -fno-pic -std=c89 -pedantic -Wall -Wextra -Werror -O2 "$build" \
        -c "$dir/$source" -o "$scratch/$build.o"
    done
    cmp -s "$scratch/-D__DJGPP__.o" "$scratch/-DMODEX_FLAT32.o" || {
      echo "$source: built with __DJGPP__, not the MODEX_FLAT32 object" >&2
      exit 1
    }
  done
fi
