#!/usr/bin/env bash
# The tests that ctest counted as skipped, each with its reason (what it printed, without
# GoogleTest's frame lines), from ctest's JUnit report: tests/skipped.sh JUNIT_XML
set -euo pipefail
awk -v apos="'" '
  function text(s) { gsub(/&lt;/, "<", s); gsub(/&gt;/, ">", s); gsub(/&quot;/, "\"", s)
                     gsub(/&apos;/, apos, s); gsub(/&amp;/, "\\&", s); return s }
  /<testcase / { name = $0; sub(/.*<testcase name="/, "", name); sub(/".*/, "", name)
                 skipped = / status="notrun"/; out = 0; lines = 0 }
  skipped && /<system-out>/ { out = 1; sub(/.*<system-out>/, "") }
  skipped && out {
    if (sub(/<\/system-out>.*/, "")) out = 0
    if ($0 !~ /^[ \t]*$/ && $0 !~ /^\[/ && $0 !~ /^(Running main|Note: Google Test filter)/ && lines < 5)
      reason[name] = reason[name] (lines++ ? " / " : "") text($0)
  }
  skipped && /<\/testcase>/ { order[++n] = name; skipped = 0 }
  END {
    if (n == 0) exit
    print n " test" (n > 1 ? "s" : "") " skipped:"
    for (i = 1; i <= n; ++i) print "  " order[i] ": " (reason[order[i]] == "" ? "(no reason printed)" : reason[order[i]])
  }' "$1"
