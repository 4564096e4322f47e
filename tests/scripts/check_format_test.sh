#!/usr/bin/env bash
# check_format_test.sh SOURCE_DIR -- scripts/check-format.sh on a scratch repository: it must fail
# on a badly formatted line a commit adds, pass when the only bad lines are older than the change
# (also when their file moved), format with FIX=1 exactly the changed lines, and check nothing where
# the base is not in history.
set -euo pipefail
SOURCE="${1:?usage: check_format_test.sh SOURCE_DIR}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

cd "$WORK"
git init -q .
git config user.email test@example.invalid
git config user.name test
mkdir scripts
cp "$SOURCE/scripts/check-format.sh" scripts/
cp "$SOURCE/.clang-format" .

# An old file with a badly formatted line that no later commit touches.
printf 'int old()\n{\n    return 1;\n}\n\nint  crooked( int a );\n' >old.cpp
printf 'int kept()\n{\n    return 2;\n}\n' >new.cpp
git add -A
git commit -qm base

# One well-formatted change to each file: the old crooked line stays out of the check.
printf 'int old()\n{\n    return 3;\n}\n\nint  crooked( int a );\n' >old.cpp
printf 'int kept()\n{\n    return 2;\n}\nint added(int b);\n' >new.cpp
git commit -qam "clean change"
scripts/check-format.sh >/dev/null 2>&1 || fail "untouched old lines were checked"

# A crooked line added, in a file whose other lines are fine.
printf 'int kept()\n{\n    return 2;\n}\nint added(int b);\nint  second( int c );\n' >new.cpp
git commit -qam "crooked change"
if scripts/check-format.sh >/dev/null 2>&1; then fail "a badly formatted added line passed"; fi
FORMAT_BASE=HEAD~2 scripts/check-format.sh >/dev/null 2>&1 && fail "a base two commits back missed the line"
FORMAT_COMMITS=1 scripts/check-format.sh >/dev/null 2>&1 && fail "FORMAT_COMMITS=1 missed the line"

# FIX=1 formats the added line and nothing else.
FIX=1 scripts/check-format.sh >/dev/null
grep -qx 'int second(int c);' new.cpp || fail "FIX left the added line as it was: $(tail -1 new.cpp)"
grep -qx 'int  crooked( int a );' old.cpp || fail "FIX reformatted an untouched line"
git commit -qam "fixed"
FORMAT_BASE=HEAD~1 scripts/check-format.sh >/dev/null 2>&1 || fail "the fixed change still fails"

# Moving the old file elsewhere brings none of its lines into the change.
mkdir moved
git mv old.cpp moved/old.cpp
git commit -qm "moved"
scripts/check-format.sh >/dev/null 2>&1 || fail "a moved file's old lines were checked"

# A base the history does not hold (a shallow clone's missing parent) checks nothing.
FORMAT_BASE=0000000000000000000000000000000000000000 scripts/check-format.sh >/dev/null 2>&1 ||
    fail "a missing base failed the check"
FORMAT_COMMITS=50 scripts/check-format.sh >/dev/null 2>&1 || fail "a base beyond the first commit failed the check"
echo "check-format: all cases behave"
