#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The mutation run: each row of tests/mutants.txt is one small fault a
# developer could make in src/. Each is applied alone to a scratch copy of the
# tree, built, and run against the suite, fastest checks first and stopping at
# the first failure; a mutant is killed when a test fails, and survives when
# the whole suite passes. Rows marked equivalent (no input can tell them
# apart, for the reason given) are listed but not run, unless
# MUTANTS_ALL=1. Not part of tools/test.sh.
#   bash tools/mutants.sh [ID_REGEX]     e.g. 'M0[1-5]|R'
# The suite is the unit tests and the end-to-end tests on the system's SDL
# runtime, then the desktop rows on the other runtime: where the pointer
# starts differs between the two. The rest of the other runtime's run, Wine,
# arm64 and the package guard platforms, not code. A fault in the web page's
# own files (its drawing, its page) is run against the web rows alone.
set -euo pipefail
cd "$(dirname "$0")/.."
only=${1:-.}
work=${MUTANTS_DIR:-/var/tmp/glowlattice-mutants}
tree=$work/tree
build=$work/build
report=$work/report.txt
bash tools/setup.sh test

# The working tree as it stands, committed or not.
rm -rf "$tree"
mkdir -p "$tree"
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$tree"
cmake -S "$tree" -B "$build" -DCMAKE_BUILD_TYPE=Release -DGLOWLATTICE_TESTS=ON -DGLOWLATTICE_DISPLAY_TESTS=ON \
    -DGLOWLATTICE_WINE_TESTS=OFF >/dev/null

# Prints the first failing test (its row and case), or nothing when the
# whole suite passes. Each row stops at its first failing case. A suite that
# passed with a case skipped (a check that could not judge, as on a machine
# too loaded to time the key repeat) prints "skipped ROW".
desktop=("-L unit" "-L e2e" "-L compat|original -R openbox|bare")
page=("-L web")
suite() {
    local stage log row case skipped=
    for stage in "$@"; do
        # shellcheck disable=SC2086
        if ! log=$(PYTEST_ADDOPTS=-x ctest --test-dir "$build" $stage --output-on-failure -j"$(nproc)" 2>&1); then
            row=$(grep -m1 -E '\*\*\*(Failed|Timeout|Exception)|Not Run|SEGFAULT' <<<"$log" |
                sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/')
            case=$(grep -m1 -oE '^(FAILED|ERROR) [^ ]*' <<<"$log" | sed -E 's/.*\[(.*)\]/\1/')
            echo "${row:-a test}${case:+/$case}"
            return
        fi
        skipped=${skipped:-$(grep -m1 -E '^SKIPPED' <<<"$log" | sed 's/^/skipped: /')}
    done
    echo "$skipped"
}

# Replaces the n-th occurrence of from with to in file; <NL> stands for a
# line break. Fails when there is no such occurrence.
mutate() {
    perl -0777 -i -e '
        my ($n, $from, $to) = splice @ARGV, 0, 3;
        s/<NL>/\n/g for $from, $to;
        local $_ = <>;
        my $at = -1;
        for my $i (1 .. $n) { $at = index($_, $from, $at + 1); exit 3 if $at < 0 }
        substr($_, $at, length $from) = $to;
        print;' "$2" "$3" "$4" "$tree/$1"
}

cmake --build "$build" -j"$(nproc)" >/dev/null
[[ "$(suite "${desktop[@]}" "${page[@]}")" =~ ^(skipped|$) ]] ||
    { echo "the suite fails on the unchanged tree" >&2; exit 1; }

: >"$report"
killed=0 survived=0 equivalent=0 broken=0
start=$SECONDS
while IFS= read -r row; do
    [[ -z $row || $row == \#* ]] && continue
    # (A tab is blank to read, and two in a row would merge an empty field.)
    IFS=$'\x1f' read -r id file n from to why <<<"${row//$'\t'/$'\x1f'}"
    [[ $id =~ $only ]] || continue
    t=$SECONDS
    if [[ $why == equivalent* && -z ${MUTANTS_ALL:-} ]]; then
        result="equivalent: ${why#equivalent: }"
        equivalent=$((equivalent + 1))
    else
        cp "$tree/$file" "$tree/$file.orig"
        if ! mutate "$file" "$n" "$from" "$to"; then
            result="BROKEN ROW: no occurrence $n of the text in $file"
            broken=$((broken + 1))
        elif ! cmake --build "$build" -j"$(nproc)" >/dev/null 2>&1; then
            result="BROKEN ROW: does not build"
            broken=$((broken + 1))
        else
            if [[ $file == src/render/page.cpp || $file == packaging/web/* ]]; then
                killer=$(suite "${page[@]}")
            else
                killer=$(suite "${desktop[@]}")
            fi
            if [[ $killer == skipped* ]]; then
                result="SURVIVED, not judged: $killer"
                survived=$((survived + 1))
            elif [ -n "$killer" ]; then
                result="killed by $killer"
                [[ $why != equivalent* ]] || result+=", though marked equivalent"
                killed=$((killed + 1))
            elif [[ $why == equivalent* ]]; then
                result="equivalent, and survived: ${why#equivalent: }"
                equivalent=$((equivalent + 1))
            else
                result="SURVIVED${why:+ ($why)}"
                survived=$((survived + 1))
            fi
        fi
        mv "$tree/$file.orig" "$tree/$file"
        touch "$tree/$file"
    fi
    printf '%-4s %4ss  %-24s %s\n' "$id" $((SECONDS - t)) "${file#src/}" "$result" | tee -a "$report"
done <tests/mutants.txt
printf '%d killed, %d survived, %d equivalent, %d broken rows; %d s\n' \
    $killed $survived $equivalent $broken $((SECONDS - start)) | tee -a "$report"
[ $survived = 0 ] && [ $broken = 0 ]
