#!/bin/sh
# SPDX-License-Identifier: ISC
# parts_test.sh SOURCE: make test's runner of parts (tests/parts.sh) goes
# on past a part that fails, and ends with one line per part; the tests
# that a real ctest run left out are named with their reasons
# (tests/leftout.sh).
set -u
src=$1
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
	echo "FAIL: $*"
	failures=$((failures + 1))
}

# Four parts: one passes, one passes with tests left out, one fails, one
# leaves itself out; each runs, and the whole fails.
sh "$src/tests/parts.sh" \
	"one=echo one ran >$tmp/one" \
	"two=echo 'left out: T.a: no frob here'; echo 'left out: T.b: not as root'; echo done" \
	"three=echo three ran >$tmp/three; exit 2" \
	"four=echo four ran >$tmp/four; echo 'nothing to run on' >&2; echo '  ' >&2; exit 77" \
	>"$tmp/out" 2>"$tmp/err"
status=$?
[ $status = 1 ] || fail "parts.sh exited $status, not 1"
for part in one three four; do
	[ -f "$tmp/$part" ] || fail "part $part did not run"
done
sed 's/[0-9][0-9]* s\([,)]\)/N s\1/' "$tmp/out" | tail -n 4 >"$tmp/summary"
cat >"$tmp/want" <<'EOF'
make test: one: passed (N s)
make test: two: passed (N s); left out: T.a: no frob here; T.b: not as root
make test: three: FAILED (exit status 2, N s)
make test: four: left out: nothing to run on
EOF
cmp -s "$tmp/summary" "$tmp/want" || fail "the summary is
$(cat "$tmp/summary")
not
$(cat "$tmp/want")"
[ ! -s "$tmp/err" ] || fail "parts.sh wrote to stderr: $(cat "$tmp/err")"

sh "$src/tests/parts.sh" "only=true" >/dev/null || fail "parts.sh failed when all passed"

# A real ctest run with a test that leaves itself out.
mkdir "$tmp/p"
cat >"$tmp/p/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.13)
project(leftout NONE)
enable_testing()
add_test(NAME Needs.root COMMAND sh -c "echo trying; echo 'not root: <needs> & \"more\"'; exit 77")
set_tests_properties(Needs.root PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME Runs COMMAND sh -c "echo fine")
add_test(NAME Gtest.Skips COMMAND sh -c "printf '[ RUN      ] Gtest.Skips\\nx.cpp:5: Skipped\\nno descriptor to spare\\n[  SKIPPED ] Gtest.Skips (0 ms)\\n[  SKIPPED ] Gtest.Skips\\n'; exit 77")
set_tests_properties(Gtest.Skips PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME Runs.InPart COMMAND sh -c "echo 'SKIPPED: systemd: needs root'; echo 'all passed'")
EOF
cmake -S "$tmp/p" -B "$tmp/b" >/dev/null 2>&1 || fail "cmake"
(cd "$tmp/b" && ctest --output-junit junit.xml >/dev/null 2>&1) || fail "ctest"
got=$(sh "$src/tests/leftout.sh" "$tmp/b/junit.xml")
want='left out: Needs.root: not root: <needs> & "more"
left out: Gtest.Skips: no descriptor to spare
left out: Runs.InPart: systemd: needs root'
[ "$got" = "$want" ] || fail "leftout.sh printed '$got'"

# make test twice at once (tests/twice.sh), in a tree whose make test
# fails only in a folder that only its owner can enter: both clones run,
# from the tree's HEAD, each clone's part lines are shown, and the whole
# fails with the failed clone's output.
mkdir "$tmp/tree"
# shellcheck disable=SC2016 # make's and the shell's own
printf 'test:\n\t@echo "make test: release: passed (1 s)"\n\t@cat made\n\t@[ "$$(stat -c %%a ..)" != 700 ] || { echo private folder; exit 3; }\n' \
	>"$tmp/tree/Makefile"
echo "from HEAD" >"$tmp/tree/made"
{ git -C "$tmp/tree" init -q && git -C "$tmp/tree" add Makefile made &&
	git -C "$tmp/tree" -c user.name=t -c user.email=t@t commit -qm tree; } || fail "git"
echo "not committed" >"$tmp/tree/made"
TWICE_APART=0 sh "$src/tests/twice.sh" "$tmp/tree" >"$tmp/twice" 2>&1
status=$?
[ "$status" = 1 ] || fail "twice.sh exited $status, not 1: $(cat "$tmp/twice")"
grep -e '^=== ' -e '^open: ' -e '^private: ' -e '^from ' -e '^not ' -e '^private folder$' "$tmp/twice" >"$tmp/twicelines"
cat >"$tmp/want" <<'EOF'
=== private: make test FAILED (exit status 2); its output:
from HEAD
private folder
open: make test: release: passed (1 s)
private: make test: release: passed (1 s)
EOF
cmp -s "$tmp/twicelines" "$tmp/want" || fail "twice.sh printed
$(cat "$tmp/twice")"
tail -n 1 "$tmp/twice" | grep -q '^twice.sh: FAILED' || fail "twice.sh: $(tail -n 1 "$tmp/twice")"

[ "$failures" = 0 ] || { echo "parts_test.sh: $failures failures"; exit 1; }
echo "parts_test.sh: all passed"
