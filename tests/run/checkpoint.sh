#!/usr/bin/env bash
# Checkpoints under faults. Three example decks (dam: seepage faces and KSLOPE 5; hillslope:
# head series and KSLOPE 0; solute-box: density-coupled transport), both programs.
#  - 20 runs killed with SIGKILL at random points: 10 at a random moment of the run, 10 inside a
#    random checkpoint's write (at a random byte of the file, or once it is complete but not yet
#    renamed); some of the continued runs are killed again. Each is continued from its last
#    checkpoint (or run again when it had none) until it ends, and every file must then be byte
#    for byte that of the run that was never stopped, the CPU lines of the listing apart.
#  - Two runs stopped by SIGTERM (the checkpoint of the end) continue alike.
#  - The dam with the optional nonlinear section continues alike from a checkpoint of mid-run.
#  - A checkpoint of another deck, a damaged one, a truncated one, one of another format version,
#    and one whose result files changed since are refused with exit status 1, a message that
#    says why, and every file left as it was.
#  - A full disk (a small tmpfs; RLIMIT_FSIZE when no tmpfs can be mounted here) stops the run
#    with a message naming the file, and its checkpoint continues the run once there is room.
#   tests/run/checkpoint.sh PROGRAM ALT_PROGRAM      (SEED=n replays a draw)
set -uo pipefail
progs=("$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" "$(cd "$(dirname "$2")" && pwd)/$(basename "$2")")
here=$(cd "$(dirname "$0")/../.." && pwd)
base=/tmp; [ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm  # fsync costs nothing there
tmp=$(mktemp -d "$base/nepora-ckpt-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
# The programs start MPI (for PETSc) as single processes, which keep session files under TMPDIR:
# ours, apart from other MPI jobs on the machine and from the runs this script kills.
mkdir "$tmp/mpi" && export TMPDIR="$tmp/mpi"
seed=${SEED:-$$}
RANDOM=$seed
echo "seed $seed"
fail() {
  echo "FAIL: $*"
  [ -n "${dir:-}" ] && [ -f "$dir/log" ] && tail -40 "$dir/log"
  exit 1
}

decks=(dam hillslope solute-box)
copy() { mkdir -p "$2"; find "$here/examples/$1" -maxdepth 1 -type f ! -name README.md -exec cp {} "$2" \; ; }
# Every file alike (the checkpoints and our own logs apart), the listing without its CPU lines.
same() {
  local r=$1 d=$2 f list
  list() { (cd "$1" && find . -type f ! -name 'log*' ! -name 'nepora3d.chk*' | sort); }
  [ "$(list "$r")" = "$(list "$d")" ] || { diff <(list "$r") <(list "$d") | head -5; return 1; }
  for f in $(list "$r"); do
    if [ "$f" = ./out.lst ]; then
      cmp -s <(grep -v 'CPU\|SECONDS' "$r/$f") <(grep -v 'CPU\|SECONDS' "$d/$f") || { echo "$f differs"; return 1; }
    else
      cmp -s "$r/$f" "$d/$f" || { echo "$f differs"; return 1; }
    fi
  done
}
snapshot() { (cd "$1" && find . -type f ! -name 'log*' -exec md5sum {} + | sort); }

# The runs never stopped, and how long each takes with a checkpoint at every step.
declare -A status secs steps
for p in 0 1; do
  for d in "${decks[@]}"; do
    ref=$tmp/ref-$p-$d; copy "$d" "$ref"
    (cd "$ref" && "${progs[$p]}" >/dev/null 2>log) ; status[$p-$d]=$?
    steps[$p-$d]=$(awk '/TOT # OF TIME STEPS/ { print $NF }' "$ref/out.lst")
    copy "$d" "$tmp/time"
    t0=$(date +%s.%N)
    (cd "$tmp/time" && "${progs[$p]}" --checkpoint-every 1 >/dev/null 2>log) || fail "$d: checkpointed run failed"
    secs[$p-$d]=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
    same "$ref" "$tmp/time" || fail "$d, program $p: a run that writes checkpoints differs from one that does not"
    rm -rf "$tmp/time"
  done
done

# Runs a program on a fresh copy of a deck and sends it a signal after a random part of SECS;
# when the run ends before, again with half the time (up to 6 times). Returns the exit status.
signalled() {  # SIGNAL DECK DIR PROG SECS ARGS...
  local sig=$1 d=$2 dir=$3 prog=$4 s=$5 pid st try; shift 5
  for try in 1 2 3 4 5 6; do
    rm -rf "$dir"; copy "$d" "$dir"
    (cd "$dir" && exec "$prog" "$@" >/dev/null 2>>log) &
    pid=$!
    sleep "$(awk -v s="$s" -v r=$RANDOM 'BEGIN { printf "%.4f", s * r / 32768 }')"
    kill -"$sig" $pid 2>/dev/null
    wait $pid 2>/dev/null; st=$?
    [ $st -ne 0 ] && [ $st -ne 2 ] && return $st
    s=$(awk -v s="$s" 'BEGIN { print s / 2 }')
  done
  return $st
}
# Continues a run from its checkpoint, or starts it again when it had none.
resume() {  # DIR PROG CADENCE...
  local dir=$1 prog=$2; shift 2
  if [ -f "$dir/nepora3d.chk" ]; then
    (cd "$dir" && "$prog" --restart nepora3d.chk "$@" >/dev/null 2>>log)
  else
    (cd "$dir" && "$prog" "$@" >/dev/null 2>>log)
  fi
}

kills=0; inside=0
for i in $(seq 1 20); do
  p=$((i % 2)); d=${decks[$((i % 3))]}; prog=${progs[$p]}
  cadence=(--checkpoint-every $((RANDOM % 3 + 1)))
  [ $((i % 7)) -eq 0 ] && cadence=(--checkpoint-wall 0.01)
  dir=$tmp/kill-$i; rm -rf "$dir"; copy "$d" "$dir"
  if [ $((i % 2)) -eq 0 ]; then
    signalled KILL "$d" "$dir" "$prog" "${secs[$p-$d]}" "${cadence[@]}"; st=$?
    [ $st -eq 137 ] || fail "run $i: ended with status $st before the kill, six times"
    kills=$((kills + 1))
    what="killed at a random moment"
  else
    # Inside the write of checkpoint K: at byte B, or (B beyond the file) before the rename. A
    # run of S steps writes S / 3 checkpoints, every third step.
    k=$((RANDOM % (${steps[$p-$d]} / 3) + 1)); b=$((RANDOM * 4))
    [ $((RANDOM % 3)) -eq 0 ] && b=999999999999
    st=$( (cd "$dir" && NEPORA3D_CHECKPOINT_FAULT=$k:$b "$prog" --checkpoint-every 3 >/dev/null 2>>log
           echo $?) 2>/dev/null)
    cadence=(--checkpoint-every 3)
    [ $st -eq 137 ] || fail "run $i: the fault in checkpoint $k did not end the run (status $st)"
    [ -f "$dir/nepora3d.chk.part" ] || fail "run $i: killed inside a checkpoint's write, but no part file is left"
    kills=$((kills + 1)); inside=$((inside + 1))
    what="killed in checkpoint $k at byte $b"
  fi
  # Every third continued run is killed again before it ends.
  if [ $((i % 3)) -eq 0 ] && [ -f "$dir/nepora3d.chk" ]; then
    (cd "$dir" && exec "$prog" --restart nepora3d.chk "${cadence[@]}" >/dev/null 2>>log) &
    pid=$!; sleep "$(awk -v s="${secs[$p-$d]}" -v r=$RANDOM 'BEGIN { printf "%.4f", s * r / 65536 }')"
    kill -KILL $pid 2>/dev/null; wait $pid 2>/dev/null
    what="$what, its continuation killed too"
  fi
  resume "$dir" "$prog" "${cadence[@]}"; st=$?
  [ $st -eq "${status[$p-$d]}" ] || fail "run $i ($d, $what): continued run ended with status $st"
  same "$tmp/ref-$p-$d" "$dir" || fail "run $i ($d, $what): the continued run differs"
  echo "run $i ($d, program $p): $what; continued: identical"
  rm -rf "$dir"
done
echo "$kills of 20 runs killed ($inside inside a checkpoint's write); every continued run identical"

# SIGTERM: the checkpoint of the end of an interrupted run, continued.
for d in dam solute-box; do
  dir=$tmp/term-$d
  signalled TERM "$d" "$dir" "${progs[0]}" "${secs[0-$d]}" --checkpoint-every 50; st=$?
  [ $st -eq 143 ] || fail "$d: status $st, not 143, after SIGTERM"
  resume "$dir" "${progs[0]}" || fail "$d: run continued after SIGTERM failed"
  same "$tmp/ref-0-$d" "$dir" || fail "$d: the run continued after SIGTERM differs"
  echo "$d: interrupted by SIGTERM, continued: identical"
done

# What the optional nonlinear section carries from step to step (the step control's iterations
# of the step before the last): the dam with FORCING EW and STEPCONTROL ITERATIONS, killed inside
# its second checkpoint, goes on from the first (step 5) as the run that was never stopped.
dir=$tmp/section; copy dam "$dir"; printf 'FORCING EW\nSTEPCONTROL ITERATIONS\n' >> "$dir/parm"
cp -r "$dir" "$tmp/section-ref"
(cd "$tmp/section-ref" && "${progs[0]}" >/dev/null 2>log) || fail "dam with the nonlinear section: the run failed"
st=$( (cd "$dir" && NEPORA3D_CHECKPOINT_FAULT=2:999999999999 "${progs[0]}" --checkpoint-every 5 >/dev/null 2>>log
       echo $?) 2>/dev/null)
[ "$st" -eq 137 ] || fail "dam with the nonlinear section: the fault in checkpoint 2 did not end the run (status $st)"
resume "$dir" "${progs[0]}" --checkpoint-every 5 || fail "dam with the nonlinear section: the continued run failed"
same "$tmp/section-ref" "$dir" || fail "dam with the nonlinear section: the continued run differs"
echo "dam with the nonlinear section: killed in checkpoint 2, continued: identical"

# Checkpoints that cannot be continued.
dir=$tmp/refuse; copy dam "$dir"
(cd "$dir" && NEPORA3D_CHECKPOINT_FAULT=9:999999999999 "${progs[0]}" --checkpoint-every 2 >/dev/null 2>log
 true) 2>/dev/null
[ -f "$dir/nepora3d.chk" ] || fail "the run killed in its 9th checkpoint left none: $(tail -5 "$dir/log")"
cp "$dir/nepora3d.chk" "$tmp/good.chk"
refused() {  # WHAT PATTERN: the restart is refused, saying so, and every file stays as it was
  local before st
  before=$(snapshot "$dir")
  (cd "$dir" && "${progs[0]}" --restart nepora3d.chk >/dev/null 2>log.refused); st=$?
  [ $st -eq 1 ] || fail "$1: status $st, not 1"
  grep -q "checkpoint '.*nepora3d.chk' $2" "$dir/log.refused" || fail "$1: $(cat "$dir/log.refused")"
  [ "$(snapshot "$dir")" = "$before" ] || fail "$1: files changed"
  echo "$1: refused ($(head -1 "$dir/log.refused" | cut -c1-110)...)"
  cp "$tmp/good.chk" "$dir/nepora3d.chk"
}
cp "$dir/soil" "$tmp/soil"; sed -i '1s/.*/-51.0/' "$dir/soil"
refused "another deck" "was written for another deck: the soil file 'soil'"
cp "$tmp/soil" "$dir/soil"
# The initial conditions, whose text the run frees once read, are checked all the same.
cp "$dir/flowic" "$tmp/flowic"; echo >>"$dir/flowic"
refused "an edited initial-condition file" "was written for another deck: the flow initial-condition file 'flowic'"
cp "$tmp/flowic" "$dir/flowic"
# One byte changed (its bits flipped: a fixed value may be the byte already there).
b=$(od -A n -t u1 -j 40000 -N 1 "$dir/nepora3d.chk" | tr -d ' ')
printf "\\x$(printf %02x $((b ^ 255)))" | dd of="$dir/nepora3d.chk" bs=1 seek=40000 conv=notrunc status=none
refused "a damaged checkpoint" "is damaged"
truncate -s 50000 "$dir/nepora3d.chk"
refused "a truncated checkpoint" "is truncated"
printf '\x03' | dd of="$dir/nepora3d.chk" bs=1 seek=20 conv=notrunc status=none
refused "another format version" "is of format version 3; this program reads versions 1 and 2"
# A checkpoint of a build whose state has other fields: one entry renamed, its checksum made good.
/usr/bin/python3 - "$dir/nepora3d.chk" <<'EOF'
import sys, zlib
b = bytearray(open(sys.argv[1], "rb").read())
k = b.index(b"\x07fs.PNEW")
b[k + 7] = ord("X")
b[-4:] = zlib.crc32(bytes(b[:-4])).to_bytes(4, "little")
open(sys.argv[1], "wb").write(b)
EOF
refused "another state" "does not hold the state of this build of .*: it holds the entry fs.PNEX where fs.PNEW"
cp "$dir/out.lst" "$tmp/out.lst"; printf 'X' | dd of="$dir/out.lst" bs=1 seek=100 conv=notrunc status=none
refused "a result file changed since" "continues the output file 'out.lst', which no longer holds"
cp "$tmp/out.lst" "$dir/out.lst"
resume "$dir" "${progs[0]}" && same "$tmp/ref-0-dam" "$dir" || fail "the good checkpoint did not continue"

# A full disk.
full_disk() {  # MOUNTED_DIR: run on a 700 kB file system, then make room and continue
  local m=$1 st
  cp "$tmp"/dam-src/* "$m"/
  (cd "$m" && "$prog" --checkpoint-every 5 >/dev/null 2>log); st=$?
  echo "status $st: $(grep 'cannot write' "$m/log")"
  [ $st -eq 1 ] && grep -q "No space left on device; the run stops (--restart 'nepora3d.chk'" "$m/log" ||
    return 1
  mount -o remount,size=8m "$m" || return 1
  (cd "$m" && "$prog" --restart nepora3d.chk >/dev/null 2>>log) || return 1
  cp -r "$m" "$tmp/full"
}
copy dam "$tmp/dam-src"
prog=${progs[0]}
if unshare -rm true 2>/dev/null; then
  echo "full disk: a 700 kB tmpfs in a mount namespace of our own"
  export -f full_disk; export tmp prog
  unshare -rm bash -c 'm=$(mktemp -d) && mount -t tmpfs -o size=700k tmpfs "$m" && full_disk "$m"' ||
    fail "full disk: the run did not stop with the message, or its checkpoint did not continue"
else
  # No tmpfs can be mounted here: the same limit for every file of the run (RLIMIT_FSIZE, with
  # SIGXFSZ ignored, so that a write beyond it fails as on a full disk, with EFBIG).
  echo "full disk: no tmpfs can be mounted here; simulated by a 100 kB file size limit"
  mkdir "$tmp/full"; cp "$tmp"/dam-src/* "$tmp/full"/
  (cd "$tmp/full" && trap '' XFSZ && ulimit -f 100 && exec "$prog" --checkpoint-every 5 >/dev/null 2>log); st=$?
  echo "status $st: $(grep 'cannot write' "$tmp/full/log")"
  [ $st -eq 1 ] && grep -q "File too large; the run stops (--restart 'nepora3d.chk'" "$tmp/full/log" ||
    fail "full disk: the run did not stop with the message"
  (cd "$tmp/full" && "$prog" --restart nepora3d.chk >/dev/null 2>>log) || fail "full disk: no continuation"
fi
same "$tmp/ref-0-dam" "$tmp/full" || fail "full disk: the continued run differs"
echo "full disk: stopped with the message; continued from its checkpoint: identical"
