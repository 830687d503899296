#!/bin/sh
# expect_status.sh N command...: runs the command and passes only when it
# exits with status N (a memcheck error exits with 99 instead).
want=$1
shift
"$@"
got=$?
[ "$got" -eq "$want" ] || { echo "exit status $got, expected $want" >&2; exit 1; }
