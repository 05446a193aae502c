#!/usr/bin/env bash
# The walk's benchmark: tessaro over archive-shaped trees where the walk, not the joining, is the
# cost, beside `find` (the floor: a walk that reads no file) and, with --compare, another tessaro.
#
#   bench/walk.sh [-n RUNS] [--dir DIR] [--only NAME,...] [--tessaro BIN] [--compare BIN]
#
#   -n RUNS       measured runs per tool, after one warm-up run (default 3); figures are medians
#   --dir DIR     where the trees are written and kept between runs
#                 (default ${TMPDIR:-/tmp}/tessaro-bench/walk)
#   --only LIST   comma-separated trees (default: all of them):
#                   lone1m   1000 x 1000 directories, one lone .tif in each (a group of one tile)
#                   lone100k 100 x 1000 such directories
#                   empty1m  1000 x 1000 directories, no tiles
#                   wide     one directory of 200000 other files and 4 tiles (not TIFFs)
#                   chain    a chain of directories 2000 deep, 1-character names, a tile at the bottom
#   --tessaro BIN the binary to measure (default: build/tessaro)
#   --compare BIN also run another tessaro binary ("other", e.g. an older build) side by side
#
# Each round runs every tool once, one tool later each round; round 0 warms the cache and is not
# counted. Wall time, CPU time (user + sys) and peak RSS come from tessaro_bench_timed; output
# goes to a log file. Ratios are tessaro / find and tessaro / other, from medians of one run.
set -euo pipefail
export LC_ALL=C

repo=$(cd "$(dirname "$0")/.." && pwd)
runs=3
root=${TMPDIR:-/tmp}/tessaro-bench/walk
only=lone1m,lone100k,empty1m,wide,chain
tessaro=$repo/build/tessaro
compare=

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit "${1:-0}"; }
while [ $# -gt 0 ]; do
    case $1 in
        -n | --runs) runs=$2; shift ;;
        --dir) root=$2; shift ;;
        --only) only=$2; shift ;;
        --tessaro) tessaro=$2; shift ;;
        --compare) compare=$2; shift ;;
        -h | --help) usage 0 ;;
        *) echo "walk.sh: unknown argument $1" >&2; usage 2 >&2 ;;
    esac
    shift
done
say() { echo "$*" >&2; }

timed=$repo/build-bench/bench/tessaro_bench_timed
if [ ! -x "$timed" ]; then
    cmake -S "$repo" -B "$repo/build-bench" -DCMAKE_BUILD_TYPE=Release -DTESSARO_BUILD_TESTS=OFF >/dev/null
    cmake --build "$repo/build-bench" --target tessaro_bench_timed >/dev/null
fi
mkdir -p "$root"

# --- trees -----------------------------------------------------------------------------------
# A grid of TOP x 1000 directories; with a tile, each holds one "t.tif".
make_grid() {
    local dir=$1 top=$2 tile=$3 i
    for ((i = 0; i < top; i++)); do
        local d
        d=$(printf '%s/%03d' "$dir" "$i")
        mkdir -p "$d"
        (cd "$d" && mkdir d{000..999} && if [ "$tile" = 1 ]; then
            for s in d{000..999}; do : >"$s/t.tif"; done
        fi)
    done
}
make_tree() {
    local name=$1 dir=$root/$1
    [ -f "$dir.done" ] && return
    say "writing $name"
    rm -rf "$dir"
    mkdir -p "$dir"
    case $name in
        lone1m) make_grid "$dir" 1000 1 ;;
        lone100k) make_grid "$dir" 100 1 ;;
        empty1m) make_grid "$dir" 1000 0 ;;
        wide)
            mkdir "$dir/w"
            (cd "$dir/w" && seq -f 'f%06g.dat' 0 199999 | xargs touch && touch 1.tif 2.tif 3.tif 4.tif) ;;
        chain)
            local half
            half=$(printf 'd/%.0s' {1..1000})
            (cd "$dir" && mkdir -p "$half" && cd "$half" && mkdir -p "$half" && cd "$half" && : >t.tif) ;;
        *) say "no tree $name"; return 1 ;;
    esac
    touch "$dir.done"
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf '%-9s %-8s %9s %9s %10s\n' tree tool wall_s cpu_s rss_mib
for name in ${only//,/ }; do
    make_tree "$name"
    dir=$root/$name
    tools=(find tessaro)
    [ -n "$compare" ] && tools+=(other)
    declare -A WALL=() CPU=() RSS=()
    for ((round = 0; round <= runs; round++)); do
        for ((k = 0; k < ${#tools[@]}; k++)); do
            tool=${tools[(k + round) % ${#tools[@]}]}
            case $tool in
                find) cmd=(find "$dir" -name '*.tif') ;;
                tessaro) cmd=("$tessaro" "$dir") ;;
                other) cmd=("$compare" "$dir") ;;
            esac
            result=$root/.result
            "$timed" "$result" "$root/.log" "${cmd[@]}" || true
            [ "$round" = 0 ] && continue
            read -r wall user sys rss _ <"$result"
            WALL[$tool]+="$wall "
            CPU[$tool]+="$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') "
            RSS[$tool]+="$rss "
        done
    done
    declare -A MW=() MC=()
    for tool in "${tools[@]}"; do
        MW[$tool]=$(tr ' ' '\n' <<<"${WALL[$tool]}" | grep . | median)
        MC[$tool]=$(tr ' ' '\n' <<<"${CPU[$tool]}" | grep . | median)
        rss=$(tr ' ' '\n' <<<"${RSS[$tool]}" | grep . | sort -g | tail -1)
        printf '%-9s %-8s %9.3f %9.3f %10.1f\n' "$name" "$tool" "${MW[$tool]}" "${MC[$tool]}" \
            "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')"
    done
    ratios="tessaro/find wall $(awk -v a="${MW[tessaro]}" -v b="${MW[find]}" 'BEGIN { printf "%.2f", a / b }')"
    [ -n "$compare" ] && ratios+=", tessaro/other wall $(awk -v a="${MW[tessaro]}" -v b="${MW[other]}" 'BEGIN { printf "%.2f", a / b }') cpu $(awk -v a="${MC[tessaro]}" -v b="${MC[other]}" 'BEGIN { printf "%.2f", a / b }')"
    printf '%-9s %s\n' "$name" "$ratios"
done
