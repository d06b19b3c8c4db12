#!/usr/bin/env bash
# tools/install-deps on a PATH without the build tools (a stand-in apt-get records its calls):
# --check lists what is missing; without root or sudo it stops with the apt-get line and calls
# nothing; as root, or through sudo, it updates and installs exactly those; with nothing missing
# it prints nothing and calls nothing.
set -euo pipefail
deps=$(cd "$(dirname "$0")/../.." && pwd)/tools/install-deps
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "$*"; exit 1; }
mkdir "$tmp/bin" "$tmp/sudo"
ln -s "$(command -v env)" "$tmp/bin/env"
printf '#!/bin/sh\necho "$*" >>%s/apt.log\n' "$tmp" >"$tmp/bin/apt-get"
printf '#!/bin/sh\necho "${FAKE_UID:-1000}"\n' >"$tmp/bin/id"
printf '#!/bin/sh\necho sudo >>%s/apt.log; exec "$@"\n' "$tmp" >"$tmp/sudo/sudo"
chmod +x "$tmp/bin/"* "$tmp/sudo/sudo"
bash=$(command -v bash)
want="cmake g++ make pkg-config libpetsc-real-dev openmpi-bin libhdf5-openmpi-dev"
# run [VAR=VALUE...] ARGS...: install-deps on the bare PATH; its status, output in out, calls in apt.log.
run() { rm -f "$tmp/apt.log"; touch "$tmp/apt.log"; s=0; env PATH="$tmp/bin" "$@" >"$tmp/out" 2>&1 || s=$?; }

run "$bash" "$deps" --check example
[ "$s" -eq 1 ] && [ "$(tr '\n' ' ' <"$tmp/out")" = "$want " ] && [ ! -s "$tmp/apt.log" ] ||
  fail "--check: status $s, $(cat "$tmp/out" "$tmp/apt.log")"
run "$bash" "$deps" example
[ "$s" -eq 1 ] && grep -qx "  apt-get install --no-install-recommends $want" "$tmp/out" && [ ! -s "$tmp/apt.log" ] ||
  fail "without root or sudo: status $s, $(cat "$tmp/out" "$tmp/apt.log")"
run FAKE_UID=0 "$bash" "$deps" example
[ "$s" -eq 0 ] && [ "$(cat "$tmp/apt.log")" = "$(printf 'update -q\ninstall -y -q --no-install-recommends %s' "$want")" ] ||
  fail "as root: status $s, $(cat "$tmp/out" "$tmp/apt.log")"
run PATH="$tmp/bin:$tmp/sudo" "$bash" "$deps" example
[ "$s" -eq 0 ] && [ "$(grep -c sudo "$tmp/apt.log")" -eq 2 ] && grep -qx "install -y -q --no-install-recommends $want" "$tmp/apt.log" ||
  fail "through sudo: status $s, $(cat "$tmp/out" "$tmp/apt.log")"
# Where the tests were built, nothing that the example needs is missing.
run PATH="$tmp/bin:$PATH" "$bash" "$deps" example
[ "$s" -eq 0 ] && [ ! -s "$tmp/out" ] && [ ! -s "$tmp/apt.log" ] ||
  fail "nothing missing: status $s, $(cat "$tmp/out" "$tmp/apt.log")"
echo "install-deps: listed, stopped, installed as root and through sudo, and left alone"
