#!/bin/sh
# Compiles the Mode X library the way an engine's build takes it: strict C89,
# every warning an error, optimised (some warnings need the optimiser).
# Usage: check_c89.sh <compiler> <modex directory>
set -e
cc=$1
dir=$2
for source in kobcheck.c kobdraw.c vgamodel.c; do
  "$cc" -std=c89 -pedantic -Wall -Wextra -Werror -O2 -DKOB_HOST_MODEL -c "$dir/$source" -o /dev/null
done
# KOBVIEW's portable half, which the host fuzzes.
"$cc" -std=c89 -pedantic -Wall -Wextra -Werror -O2 -I"$dir" -c "$dir/../kobview/viewer.c" -o /dev/null
# And with a seam of the engine's own instead of the host model.
"$cc" -std=c89 -pedantic -Wall -Wextra -Werror -O2 '-DKOB_SELECT_PLANES(mask)=engine_select(mask)' \
  '-DKOB_STORE(offset, value)=engine_store(offset, value)' -include "$dir/../tests/engine_seam.h" \
  -c "$dir/kobdraw.c" -o /dev/null
