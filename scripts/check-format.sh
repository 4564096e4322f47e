#!/usr/bin/env bash
# check-format.sh -- the C++ lines a change touches must be as .clang-format writes them.
#
# Only the lines the change added or modified are checked, so older code around them is never
# asked to move. "The change" is BASE..HEAD, BASE being
#   $FORMAT_BASE                 if set (any commit, e.g. the main branch before a merge), else
#   HEAD~$FORMAT_COMMITS         along first parents (default 1: the last commit, which for a merge
#                                is everything the merge brought in).
# Where BASE is not in the history (a shallow clone, a first commit) there is nothing to compare
# with, and nothing is checked. CLANG_FORMAT names the program (default clang-format).
# Exit status 1 lists the files and what clang-format would change; fix them with
#   FIX=1 scripts/check-format.sh
# which rewrites only those lines.
set -euo pipefail
cd "$(dirname "$0")/.."

CLANG_FORMAT="${CLANG_FORMAT:-clang-format}"
if [[ -n ${FORMAT_BASE:-} ]]; then
    base="$FORMAT_BASE"
else
    base="HEAD~${FORMAT_COMMITS:-1}"
fi
if ! base_commit=$(git rev-parse --verify --quiet "$base^{commit}"); then
    echo "check-format: no $base in this history; nothing to compare with, nothing checked" >&2
    exit 0
fi

# Added, modified and moved C++ files; deleted ones have no lines to check. A moved file is compared
# with where it came from, so that moving old code does not make every line of it new.
mapfile -t entries < <(git diff -M --name-status --diff-filter=AMR "$base_commit" HEAD -- \
    '*.cpp' '*.h' '*.hpp' '*.cc' '*.cxx')

files=()
failed=()
for entry in "${entries[@]}"; do
    IFS=$'\t' read -r status first second <<<"$entry"
    if [[ $status == R* ]]; then
        file="$second"
        paths=("$first" "$second")
    else
        file="$first"
        paths=("$first")
    fi
    [[ -f $file ]] || continue
    files+=("$file")
    # New-side line ranges of every hunk: "@@ -a,b +c,d @@" covers lines c .. c + d - 1 (d = 0 is a
    # pure deletion, which leaves nothing to format).
    mapfile -t ranges < <(git diff -M -U0 --no-color "$base_commit" HEAD -- "${paths[@]}" |
        sed -n 's/^@@ -[0-9,]* +\([0-9]*\)\(,\([0-9]*\)\)\{0,1\} @@.*/\1 \3/p' |
        awk '{ n = ($2 == "" ? 1 : $2); if (n > 0) printf "--lines=%d:%d\n", $1, $1 + n - 1 }')
    [[ ${#ranges[@]} -gt 0 ]] || continue
    if [[ -n ${FIX:-} ]]; then
        "$CLANG_FORMAT" -i "${ranges[@]}" "$file"
    elif ! "$CLANG_FORMAT" --dry-run --Werror "${ranges[@]}" "$file"; then
        failed+=("$file")
    fi
done

if [[ ${#failed[@]} -gt 0 ]]; then
    echo "check-format: lines changed since $base are not formatted in: ${failed[*]}" >&2
    echo "check-format: FIX=1 FORMAT_BASE=$base $0 formats just those lines" >&2
    exit 1
fi
echo "check-format: ${#files[@]} changed C++ file(s) since $base formatted as .clang-format says"
