#!/bin/sh
# SPDX-License-Identifier: ISC
# leftout.sh JUNIT: a line "left out: TEST: why" for each test that left
# itself out, and one for each part that a test which ran left out (a line
# "SKIPPED: why" in its output), from the report that
# ctest --output-junit JUNIT wrote.  (ctest keeps the output of such a test
# to itself.)  The reason is what the test printed: GoogleTest's line after
# "Skipped", or a script's last line.
set -eu
[ -f "$1" ] || exit 0
awk '
	function keep(text) {
		gsub(/&lt;/, "<", text); gsub(/&gt;/, ">", text)
		gsub(/&quot;/, "\"", text); gsub(/&apos;/, "\047", text); gsub(/&amp;/, "\\&", text)
		if (text ~ /^SKIPPED: /)
			parts = parts "left out: " name ": " substr(text, 10) "\n"
		if (aftergtest && text ~ /[^[:space:]]/) {
			why = text
			aftergtest = 0
		}
		if (text ~ /: Skipped$/)
			aftergtest = 1
		if (text ~ /[^[:space:]]/)
			last = text
	}
	/<testcase / {
		name = $0
		sub(/.*<testcase name="/, "", name)
		sub(/".*/, "", name)
		skipped = 0; inout = 0; last = ""; why = ""; parts = ""; aftergtest = 0
	}
	/<skipped / { skipped = 1 }
	/<system-out>/ { inout = 1; sub(/.*<system-out>/, "") }
	inout {
		if (sub(/<\/system-out>.*/, ""))
			inout = 0
		keep($0)
	}
	/<\/testcase>/ && skipped { print "left out: " name ": " (why != "" ? why : last) }
	/<\/testcase>/ && !skipped { printf "%s", parts }
' "$1"
