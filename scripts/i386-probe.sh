#!/bin/sh
# Exits 0 when this machine's kernel runs 32-bit x86 programs, which the
# 32-bit Wine needs for its loader. Some kernels are built or booted with
# their 32-bit emulation off ("32-bit emulation disabled" in the kernel log);
# there every 32-bit program fails with "Exec format error", Wine's included.
# The probe is the smallest such program: a 93-byte i386 ELF that calls
# exit(0) through int 0x80.
set -u
probe=$(mktemp "${TMPDIR:-/tmp}/ovlu-i386.XXXXXX") || exit 1
trap 'rm -f "$probe"' EXIT
printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\061\333\315\200' >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
