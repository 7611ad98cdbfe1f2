#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sums a callgrind profile's self instruction counts per object file and
# prints the share of the named program against all the libraries.
#   bench/objshare.sh callgrind.out program-name
set -euo pipefail
awk -v own="$2" '
    # Names are compressed: "(n) name" the first time, "(n)" afterwards.
    function name(s,    id) {
        if (match(s, /^\([0-9]+\)/)) {
            id = substr(s, 2, RLENGTH - 2)
            if (length(s) > RLENGTH) names[id] = substr(s, RLENGTH + 2)
            return names[id]
        }
        return s
    }
    /^ob=/  { ob = name(substr($0, 4)); next }
    /^cob=/ { name(substr($0, 5)); next }
    /^fn=/  { fnob = ob; next }
    /^calls=/ { skip = 1; next }     # the next line is the call'"'"'s inclusive cost
    /^[0-9+*-]/ {
        if (skip) { skip = 0; next }
        cost[fnob] += $2; total += $2
    }
    END {
        for (o in cost) {
            n = split(o, part, "/")
            if (part[n] == own) mine += cost[o]
        }
        for (o in cost) printf "%14d  %6.3f%%  %s\n", cost[o], 100 * cost[o] / total, o | "sort -rn | head -8"
        close("sort -rn | head -8")
        printf "program %d of %d instructions: %.3f%% (target <= 1%%)\n", mine, total, 100 * mine / total
    }' "$1"
