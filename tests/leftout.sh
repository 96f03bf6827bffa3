#!/bin/sh
# SPDX-License-Identifier: ISC
# leftout.sh JUNIT: a line "left out: TEST: why" for each test that left
# itself out, with the last line it printed, from the report that
# ctest --output-junit JUNIT wrote.  (ctest keeps the output of such a test
# to itself.)
set -eu
[ -f "$1" ] || exit 0
awk '
	function keep(text) {
		gsub(/&lt;/, "<", text); gsub(/&gt;/, ">", text)
		gsub(/&quot;/, "\"", text); gsub(/&apos;/, "\047", text); gsub(/&amp;/, "\\&", text)
		if (text ~ /[^[:space:]]/)
			last = text
	}
	/<testcase / {
		name = $0
		sub(/.*<testcase name="/, "", name)
		sub(/".*/, "", name)
		skipped = 0; inout = 0; last = ""
	}
	/<skipped / { skipped = 1 }
	/<system-out>/ { inout = 1; sub(/.*<system-out>/, "") }
	inout {
		if (sub(/<\/system-out>.*/, ""))
			inout = 0
		keep($0)
	}
	/<\/testcase>/ && skipped { print "left out: " name ": " last }
' "$1"
