#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The mutation run: each row of tests/mutants.txt, a small fault, is applied alone
# to a copy of the tree and run against the suite until a test fails; equivalent
# rows are only listed, unless MUTANTS_ALL=1. The other SDL runtime runs just its
# desktop rows (the pointer starts elsewhere), a fault in the web page's files
# the web rows; Wine, arm64 and the package guard platforms, not code.
#   bash tools/mutants.sh [ID_REGEX]     e.g. 'M0[1-5]|R'
set -euo pipefail
cd "$(dirname "$0")/.."
only=${1:-.}
work=${MUTANTS_DIR:-/var/tmp/glowlattice-mutants}
tree=$work/tree build=$work/build report=$work/report.txt
bash tools/setup.sh test

rm -rf "$tree"
mkdir -p "$tree"
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$tree"
cmake -S "$tree" -B "$build" -DCMAKE_BUILD_TYPE=Release -DGLOWLATTICE_TESTS=ON -DGLOWLATTICE_DISPLAY_TESTS=ON \
    -DGLOWLATTICE_WINE_TESTS=OFF >/dev/null

# Prints the first failing row/case, nothing, or "skipped: ..." (could not judge).
desktop=("-L unit" "-L e2e" "-L compat|original -R openbox|bare")
page=("-L web")
suite() {
    local stage log row case skipped=
    for stage in "$@"; do
        # shellcheck disable=SC2086
        if ! log=$(PYTEST_ADDOPTS=-x ctest --test-dir "$build" $stage --output-on-failure -j"$(nproc)" 2>&1); then
            row=$(grep -m1 -E '\*\*\*(Failed|Timeout|Exception)|Not Run|SEGFAULT' <<<"$log" | sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/')
            case=$(grep -m1 -oE '^(FAILED|ERROR) [^ ]*' <<<"$log" | sed -E 's/.*\[(.*)\]/\1/')
            echo "${row:-a test}${case:+/$case}"
            return
        fi
        skipped=${skipped:-$(grep -m1 -E '^SKIPPED' <<<"$log" | sed 's/^/skipped: /')}
    done
    echo "$skipped"
}

# Replaces the n-th occurrence of from with to (<NL>: a line break), or fails.
mutate() {
    perl -0777 -i -e '
        my ($n, $from, $to) = map { s/<NL>/\n/gr } splice @ARGV, 0, 3;
        local $_ = <>;
        my $at = -1;
        for my $i (1 .. $n) { $at = index($_, $from, $at + 1); exit 3 if $at < 0 }
        substr($_, $at, length $from) = $to;
        print;' "$2" "$3" "$4" "$tree/$1"
}
outcome() { result=$2; : $((++$1)); }

cmake --build "$build" -j"$(nproc)" >/dev/null
[[ "$(suite "${desktop[@]}" "${page[@]}")" =~ ^(skipped|$) ]] ||
    { echo "the suite fails on the unchanged tree" >&2; exit 1; }

: >"$report"
killed=0 survived=0 equivalent=0 broken=0 start=$SECONDS
while IFS= read -r row; do
    [[ -z $row || $row == \#* ]] && continue
    # (A tab is blank to read, and two in a row would merge an empty field.)
    IFS=$'\x1f' read -r id file n from to why <<<"${row//$'\t'/$'\x1f'}"
    [[ $id =~ $only ]] || continue
    t=$SECONDS
    if [[ $why == equivalent* && -z ${MUTANTS_ALL:-} ]]; then
        outcome equivalent "equivalent: ${why#equivalent: }"
    else
        cp "$tree/$file" "$tree/$file.orig"
        if ! mutate "$file" "$n" "$from" "$to"; then
            outcome broken "BROKEN ROW: no occurrence $n of the text in $file"
        elif ! cmake --build "$build" -j"$(nproc)" >/dev/null 2>&1; then
            outcome broken "BROKEN ROW: does not build"
        else
            case $file in
            src/render/page.cpp | packaging/web/*) killer=$(suite "${page[@]}") ;;
            *) killer=$(suite "${desktop[@]}") ;;
            esac
            if [[ $killer == skipped* ]]; then
                outcome survived "SURVIVED, not judged: $killer"
            elif [ -n "$killer" ]; then
                outcome killed "killed by $killer"
                [[ $why != equivalent* ]] || result+=", though marked equivalent"
            elif [[ $why == equivalent* ]]; then
                outcome equivalent "equivalent, and survived: ${why#equivalent: }"
            else
                outcome survived "SURVIVED${why:+ ($why)}"
            fi
        fi
        mv "$tree/$file.orig" "$tree/$file"
        touch "$tree/$file"
    fi
    printf '%-4s %4ss  %-24s %s\n' "$id" $((SECONDS - t)) "${file#src/}" "$result" | tee -a "$report"
done <tests/mutants.txt
printf '%d killed, %d survived, %d equivalent, %d broken rows; %d s\n' $killed $survived $equivalent $broken $((SECONDS - start)) | tee -a "$report"
[ $survived = 0 ] && [ $broken = 0 ]
