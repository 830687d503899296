#!/bin/sh
# DJGPP's own linker on the 32-bit library's assembly: every source assembled
# as DJGPP's COFF objects take it (nasm -f coff: C names with a leading
# underscore), linked together by i586-pc-msdosdjgpp-ld -r. The result must
# define, underscored, every global the ELF build of the same sources
# defines in flat32/libmodex32.a (the functions DJGPP's C code calls), and
# need nothing but what the library's C objects define there. The C objects
# themselves take DJGPP's gcc to be COFF, which is not here.
# Usage: check_djgpp_link.sh <djgpp ld> <djgpp nm> <nasm> <libmodex32.a> <work dir> <modex dir> <source.asm>...
set -eu
ld=$1 nm=$2 nasm=$3 archive=$4 work=$5 modex=$6
shift 6
[ $# -gt 0 ] || { echo "no assembly sources to link" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work"
objects=
for source in "$@"; do
  object="$work/$(basename "$source" .asm).o"
  "$nasm" -f coff -I"$modex/" -o "$object" "$source"
  objects="$objects $object"
done
# shellcheck disable=SC2086
"$ld" -r -o "$work/linked.o" $objects

# Defined and undefined globals, one name a line.
defined() { "$nm" -g --defined-only "$@" 2>/dev/null | awk 'NF == 3 { print $3 }' | sort -u; }
undefined() { "$nm" -g --undefined-only "$@" 2>/dev/null | awk '{ print $NF }' | sort -u; }

# The ELF archive's members from these sources, and its C members.
asm_members=
for source in "$@"; do asm_members="$asm_members $(basename "$source" .asm)_asm.o"; done
mkdir -p "$work/elf"
(cd "$work/elf" && ar x "$archive")
elf_asm= elf_c=
for member in "$work"/elf/*.o; do
  case " $asm_members " in
  *" $(basename "$member") "*) elf_asm="$elf_asm $member" ;;
  *) elf_c="$elf_c $member" ;;
  esac
done
[ -n "$elf_asm" ] || { echo "$archive holds none of the assembly sources' objects" >&2; exit 1; }

failed=0
# shellcheck disable=SC2086
for name in $(nm -g --defined-only $elf_asm | awk 'NF == 3 { print $3 }' | sort -u); do
  if ! defined "$work/linked.o" | grep -qx "_$name"; then
    echo "DJGPP's link does not define _$name, which the ELF objects define as $name" >&2
    failed=1
  fi
done
# shellcheck disable=SC2086
c_defined=$(nm -g --defined-only $elf_c | awk 'NF == 3 { print "_" $3 }')
for name in $(undefined "$work/linked.o"); do
  if ! printf '%s\n' "$c_defined" | grep -qx "$name"; then
    echo "DJGPP's link needs $name, which no C object of the library defines" >&2
    failed=1
  fi
done
exit $failed
