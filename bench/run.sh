#!/usr/bin/env bash
# tessaro's benchmark: joins generated workloads with tessaro, next to floors that bound what any
# joiner can do and, where installed, ImageMagick, libvips and GDAL doing the same job.
#
#   bench/run.sh [--full] [-n RUNS] [--dir DIR] [--only NAME,...] [--no-peers] [--tessaro BIN]
#                [--tty] [--compare BIN]
#
#   --full        workloads at full size (192 MiB and 412 MiB mosaics, 400 groups); default: a
#                 quick size that runs in about a minute
#   -n RUNS       measured runs per tool, after one warm-up run (default 3); figures are medians
#   --dir DIR     where workloads are written and kept between runs
#                 (default ${TMPDIR:-/tmp}/tessaro-bench; quick and full sizes in DIR/quick, DIR/full)
#   --only LIST   comma-separated workloads: raw4 lzw4 jpeg4 raw6 small (default: all of them),
#                 jpegrgb4 (JPEG with RGB components) on request
#   --no-peers    skip ImageMagick, libvips and GDAL even when installed
#   --tessaro BIN the binary to measure (default: built from this tree in build-bench, falling
#                 back to build/tessaro when the tree does not build)
#   --build-dir D where the benchmark's tools are built (default: build-bench in the repository)
#   --tty         also run tessaro with standard error on a pseudo-terminal (util-linux script),
#                 so it draws its status line ("tty"), and under the same wrapper with standard
#                 error redirected ("ttyoff"); tty / ttyoff is the status line's cost
#   --compare BIN also run another tessaro binary ("other", e.g. an older build) side by side;
#                 tessaro / other compares them
#
# Method. Every tool runs on the same tiles in the same place: outputs go into the group
# directories, beside the tiles, so on the same file system. The tools run in rounds, each tool
# once per round, so noise from the shared machine hits them all alike: round 0 warms the page
# cache and is not counted, rounds 1..RUNS are. Each round starts one tool later than the last,
# so no tool always runs right after the same other one. Before each run every output is deleted
# and the file system synced, so no run pays for an earlier run's write-back. Wall time is
# measured around the process, CPU time is user + sys, peak RSS is the largest over the counted
# runs (for a shell loop over groups, its largest child). Outputs are deleted once a workload is
# done.
#
# Floors (tessaro_bench_floor): "stream" reads the group's tile files and writes a file the
# mosaic's size; "write" only writes that file; "decode+write" decodes every strip with libtiff
# and writes the decoded bytes to that file (the floor for compressed tiles, where decoding
# dominates); "decode" is libtiff's decoding alone; "forked" (workloads of many groups) is stream
# with each group in a child process forked for it, one per usable processor at a time: the least
# a process per group costs, which tessaro's decoding children pay. "join" is a plain joiner in the same tool
# (both tiles of a row of tiles decoded side by side, RGB to BGR by byte shuffle, whole mosaic
# rows written about 1 MiB at a time): not a floor, but what a straightforward libtiff program
# reaches; its mosaic must be byte for byte tessaro's, which the run checks.
#
# Peers, run per group directory:
#   ImageMagick  convert ( left column -append ) ( right column -append ) +append BMP3:out.bmp
#   libvips      vips arrayjoin "tiles in row order" out.v --across 2   (and out.bmp, which libvips
#                writes through ImageMagick)
#   GDAL         gdal_translate -of BMP over a VRT placing each tile (written beforehand, not
#                timed: the tiles carry no georeferencing, so gdalbuildvrt cannot place them)
# They run with their installed defaults (threads, caches), except ImageMagick's resource
# limits: Debian's policy makes it fail on the full-size mosaics, so its runs (and libvips's BMP
# saving, which goes through ImageMagick) read bench/policy.xml through MAGICK_CONFIGURE_PATH.
set -euo pipefail
export LC_ALL=C

repo=$(cd "$(dirname "$0")/.." && pwd)
size=quick
runs=3
root=${TMPDIR:-/tmp}/tessaro-bench
only=raw4,lzw4,jpeg4,raw6,small
peers=1
tessaro=
build=$repo/build-bench
tty=0
compare=

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit "${1:-0}"; }
while [ $# -gt 0 ]; do
    case $1 in
        --full) size=full ;;
        --quick) size=quick ;;
        -n | --runs) runs=$2; shift ;;
        --dir) root=$2; shift ;;
        --only) only=$2; shift ;;
        --no-peers) peers=0 ;;
        --tessaro) tessaro=$2; shift ;;
        --build-dir) build=$2; shift ;;
        --tty) tty=1 ;;
        --compare) compare=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift ;;
        -h | --help) usage 0 ;;
        *) echo "run.sh: unknown argument $1" >&2; usage 2 ;;
    esac
    shift
done
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "run.sh: -n takes a positive number" >&2; exit 2; }

say() { printf '%s\n' "$*" >&2; }

# --- tools -----------------------------------------------------------------------------------
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target tessaro_bench_make_workload tessaro_bench_floor \
    tessaro_bench_timed >/dev/null
make_workload=$build/bench/tessaro_bench_make_workload
floor=$build/bench/tessaro_bench_floor
timed=$build/bench/tessaro_bench_timed
if [ -z "$tessaro" ]; then
    if cmake --build "$build" -j2 --target tessaro >"$build/bench-tessaro-build.log" 2>&1; then
        tessaro=$build/tessaro
    elif [ -x "$repo/build/tessaro" ]; then
        say "run.sh: tessaro does not build in $build now (see $build/bench-tessaro-build.log);" \
            "measuring $repo/build/tessaro"
        tessaro=$repo/build/tessaro
    else
        say "run.sh: no tessaro binary (the tree does not build: $build/bench-tessaro-build.log)"
        exit 1
    fi
fi
tessaro=$(cd "$(dirname "$tessaro")" && pwd)/$(basename "$tessaro")

have_im=0 have_vips=0 have_vips_bmp=0 have_gdal=0 im=convert
if [ "$peers" = 1 ]; then
    # (outputs are captured first: grep -q would end a pipe early and pipefail count it failed)
    # /usr/local/bin/convert may be a stand-in that is not ImageMagick: ask for its version.
    if command -v magick >/dev/null && [[ $(magick -version 2>/dev/null) == *ImageMagick* ]]; then
        have_im=1 im=magick
    elif [[ $(convert -version 2>/dev/null) == *ImageMagick* ]]; then
        have_im=1
    fi
    if command -v vips >/dev/null; then
        have_vips=1
        [[ $(vips -l foreign 2>/dev/null) == *magicksave* ]] && have_vips_bmp=1
    fi
    command -v gdal_translate >/dev/null && [[ $(gdalinfo --formats 2>/dev/null) == *" BMP "* ]] &&
        have_gdal=1
fi
commit=$(git -C "$repo" log -1 --format=%h 2>/dev/null || echo '?')
if [ -n "$(git -C "$repo" status --porcelain -- src 2>/dev/null)" ]; then commit+=" + uncommitted changes in src"; fi
say "tessaro: $tessaro (tree at $commit)"
[ "$have_im" = 1 ] && say "ImageMagick: $($im -version | head -1)" ||
    say "ImageMagick: not installed (apt-get install imagemagick) - skipped"
[ "$have_vips" = 1 ] && say "libvips: $(vips --version)$([ "$have_vips_bmp" = 1 ] || echo ', no BMP saver')" ||
    say "libvips: not installed (apt-get install libvips-tools) - skipped"
[ "$have_gdal" = 1 ] && say "GDAL: $(gdal_translate --version)" ||
    say "GDAL: not installed (apt-get install gdal-bin) - skipped"

load_start=$(cut -d' ' -f1-3 /proc/loadavg)

# --- workloads -------------------------------------------------------------------------------
data=$root/$size
mkdir -p "$data"
data=$(cd "$data" && pwd)
size_flag=--quick
[ "$size" = full ] && size_flag=--full
say "workloads in $data"
"$make_workload" $size_flag --only "$only" "$data" >&2

# --- measuring -------------------------------------------------------------------------------
declare -A WALL CPU RSS FAIL
rows=()

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
max() { sort -g | tail -1; }

clean_outputs() {  # every file beside the tiles that is not a tile
    find "$1" -mindepth 2 -maxdepth 2 -type f ! -name '*.tif' -delete
    sync -f "$1" 2>/dev/null || sync
}

# Writes one shell script per tool for workload $1 into directory $2. Prints the tools' names.
write_scripts() {
    local wl=$1 dir=$2 codec=$3 bytes=$4 tw=$5 th=$6 mw=$7 mh=$8
    local groups=("$wl"/*/)
    groups=("${groups[@]%/}")
    local tools=(tessaro onecpu join stream write)
    printf 'exec %q %q\n' "$tessaro" "$wl" >"$dir/tessaro.sh"
    printf 'exec taskset -c 0 %q %q\n' "$tessaro" "$wl" >"$dir/onecpu.sh"
    if [ "$tty" = 1 ]; then
        tools+=(tty ttyoff)
        local run
        run=$(printf 'exec %q %q >/dev/null' "$tessaro" "$wl")
        printf 'exec script -qec %q /dev/null\n' "$run" >"$dir/tty.sh"
        printf 'exec script -qec %q /dev/null\n' "$run 2>/dev/null" >"$dir/ttyoff.sh"
    fi
    if [ -n "$compare" ]; then
        tools+=(other)
        printf 'exec %q %q\n' "$compare" "$wl" >"$dir/other.sh"
    fi
    if [ ${#groups[@]} -gt 1 ]; then tools+=(forked); fi
    for mode in stream write forked decode decodeonly join; do
        { printf 'exec %q %s %s' "$floor" "$mode" "$bytes"; printf ' %q' "${groups[@]}"; echo; } \
            >"$dir/$mode.sh"
    done
    if [ "$codec" != none ]; then tools+=(decode decodeonly); fi
    local policy
    policy=$(printf 'export MAGICK_CONFIGURE_PATH=%q\n' "$repo/bench")
    echo "$policy" >"$dir/im.sh"; : >"$dir/vipsv.sh"; echo "$policy" >"$dir/vipsbmp.sh"; : >"$dir/gdal.sh"
    local g n half t
    for g in "${groups[@]}"; do
        local tiles=("$g"/*.tif)
        n=${#tiles[@]}
        half=$((n / 2))
        local left=("${tiles[@]:0:half}") right=("${tiles[@]:half}") across=()
        for ((t = 0; t < half; t++)); do across+=("${left[t]}" "${right[t]}"); done
        {
            printf '%q \\(' "$im"; printf ' %q' "${left[@]}"; printf ' -append \\) \\('
            printf ' %q' "${right[@]}"; printf ' -append \\) +append %q\n' "BMP3:$g/peer-im.bmp"
        } >>"$dir/im.sh"
        printf 'vips arrayjoin %q %q --across 2\n' "${across[*]}" "$g/peer-vips.v" >>"$dir/vipsv.sh"
        printf 'vips arrayjoin %q %q --across 2\n' "${across[*]}" "$g/peer-vips.bmp" >>"$dir/vipsbmp.sh"
        local vrt=$dir/$(basename "$g").vrt
        {
            printf '<VRTDataset rasterXSize="%s" rasterYSize="%s">\n' "$mw" "$mh"
            local band colour
            for band in 1 2 3; do
                colour=(x Red Green Blue)
                printf ' <VRTRasterBand dataType="Byte" band="%s"><ColorInterp>%s</ColorInterp>\n' \
                    "$band" "${colour[band]}"
                for ((t = 0; t < n; t++)); do
                    printf '  <SimpleSource><SourceFilename relativeToVRT="0">%s</SourceFilename>' "${tiles[t]}"
                    printf '<SourceBand>%s</SourceBand><SrcRect xOff="0" yOff="0" xSize="%s" ySize="%s"/>' "$band" "$tw" "$th"
                    printf '<DstRect xOff="%s" yOff="%s" xSize="%s" ySize="%s"/></SimpleSource>\n' \
                        $((t / half * tw)) $((t % half * th)) "$tw" "$th"
                done
                printf ' </VRTRasterBand>\n'
            done
            printf '</VRTDataset>\n'
        } >"$vrt"
        printf 'gdal_translate -q -of BMP %q %q\n' "$vrt" "$g/peer-gdal.bmp" >>"$dir/gdal.sh"
    done
    [ "$have_im" = 1 ] && tools+=(im)
    [ "$have_vips" = 1 ] && tools+=(vipsv)
    [ "$have_vips_bmp" = 1 ] && tools+=(vipsbmp)
    [ "$have_gdal" = 1 ] && tools+=(gdal)
    echo "${tools[@]}"
}

# Pixel block of a 24-bit BMP (everything after bfOffBits).
pixels() { tail -c +$(($(od -A n -t u4 -j 10 -N 4 "$1") + 1)) "$1"; }

check_note=()
for name in ${only//,/ }; do
    wl=$data/$name
    [ -f "$wl/workload.txt" ] || { say "no workload $name"; continue; }
    declare -A W=()
    for kv in $(cat "$wl/workload.txt"); do W[${kv%%=*}]=${kv#*=}; done
    runsdir=$data/.runs/$name
    rm -rf "$runsdir"
    mkdir -p "$runsdir"
    read -r -a tools <<<"$(write_scripts "$wl" "$runsdir" "${W[codec]}" "${W[mosaic_bytes]}" \
        "${W[tile_w]}" "${W[tile_h]}" "${W[mosaic_w]}" "${W[mosaic_h]}")"
    first_group=$(find "$wl" -mindepth 1 -maxdepth 1 -type d | sort | head -1)
    first_bmp=$first_group/$(basename "$first_group").bmp
    say "== $name: ${W[groups]} group(s) x ${W[tiles]} tiles ${W[tile_w]}x${W[tile_h]} ${W[codec]}," \
        "mosaic $(awk -v b="${W[mosaic_bytes]}" 'BEGIN { printf "%.1f", b / 1048576 }') MiB; tools: ${tools[*]}"
    clean_outputs "$wl"
    declare -A failed=()
    for ((round = 0; round <= runs; round++)); do
        # Each round starts one tool later, so no tool always follows the same one.
        for ((k = 0; k < ${#tools[@]}; k++)); do
            tool=${tools[(k + round) % ${#tools[@]}]}
            [ -n "${failed[$tool]:-}" ] && continue
            clean_outputs "$wl"
            result=$runsdir/$tool.$round.result
            if ! "$timed" "$result" "$runsdir/$tool.$round.log" bash "$runsdir/$tool.sh"; then
                failed[$tool]=1
                say "   $tool failed (exit $(awk '{ print $5 }' "$result")): $(tail -c 300 "$runsdir/$tool.$round.log" | tr '\n' ' ')"
                continue
            fi
            if [ "$round" = 0 ]; then
                case $tool in
                    tessaro)
                        got=$(stat -c %s "$first_bmp" 2>/dev/null || echo none)
                        if [ "$got" != "${W[mosaic_bytes]}" ]; then
                            failed[$tool]=1
                            say "   tessaro wrote no mosaic of ${W[mosaic_bytes]} bytes ($first_bmp: $got)"
                        else
                            mv "$first_bmp" "$runsdir/check-tessaro.bmp"
                        fi ;;
                    join)
                        mv "$first_group/$(basename "$first_group")-join.bmp" "$runsdir/check-join.bmp" ;;
                    gdal | im)
                        if [ ! -f "$runsdir/check-peer.bmp" ] &&
                            mv "$first_group/peer-$tool.bmp" "$runsdir/check-peer.bmp" 2>/dev/null; then
                            echo "$tool" >"$runsdir/check-peer.name"
                        fi ;;
                esac
            fi
        done
        if [ "$round" = 0 ] && [ -f "$runsdir/check-tessaro.bmp" ]; then
            note="$name:"
            if [ -f "$runsdir/check-join.bmp" ]; then
                cmp -s "$runsdir/check-tessaro.bmp" "$runsdir/check-join.bmp" &&
                    note+=" tessaro's file = the plain join's;" ||
                    note+=" tessaro's file DIFFERS from the plain join's;"
            fi
            if [ -f "$runsdir/check-peer.bmp" ]; then
                peer=$(cat "$runsdir/check-peer.name")
                cmp -s <(pixels "$runsdir/check-tessaro.bmp") <(pixels "$runsdir/check-peer.bmp") &&
                    note+=" its pixels = $peer's" || note+=" its pixels DIFFER from $peer's"
            fi
            check_note+=("$note")
            say "   $note"
        fi
        rm -f "$runsdir"/check-*.bmp
    done
    clean_outputs "$wl"
    for tool in "${tools[@]}"; do
        key=$name/$tool
        if [ -n "${failed[$tool]:-}" ]; then FAIL[$key]=1; continue; fi
        files=()
        for ((round = 1; round <= runs; round++)); do files+=("$runsdir/$tool.$round.result"); done
        WALL[$key]=$(awk '{ print $1 }' "${files[@]}" | median)
        CPU[$key]=$(awk '{ print $2 + $3 }' "${files[@]}" | median)
        RSS[$key]=$(awk '{ print $4 }' "${files[@]}" | max)
        say "   $(printf '%-10s wall %8.3f s  cpu %8.3f s  rss %7.1f MiB' "$tool" "${WALL[$key]}" \
            "${CPU[$key]}" "$(awk -v k="${RSS[$key]}" 'BEGIN { print k / 1024 }')")"
    done
    rows+=("$name")
    declare -g "GROUPS_$name=${W[groups]}" "CODEC_$name=${W[codec]}" "MIB_$name=$(awk -v b="${W[mosaic_bytes]}" 'BEGIN { printf "%.0f", b / 1048576 }')"
    unset W failed
done

# --- report ----------------------------------------------------------------------------------
t() {  # time of tool $2 in workload $1, or - / fail
    local key=$1/$2
    if [ -n "${FAIL[$key]:-}" ]; then echo fail
    elif [ -n "${WALL[$key]:-}" ]; then printf '%.3f' "${WALL[$key]}"
    else echo -; fi
}
ratio() {  # tessaro / tool $2 in workload $1
    local a=${WALL[$1/tessaro]:-} b=${WALL[$1/$2]:-}
    if [ -n "$a" ] && [ -n "$b" ]; then awk -v a="$a" -v b="$b" 'BEGIN { printf "%.2fx", a / b }'
    else echo -; fi
}
ratio_cpu() {  # the same by CPU time
    local a=${CPU[$1/tessaro]:-} b=${CPU[$1/$2]:-}
    if [ -n "$a" ] && [ -n "$b" ]; then awk -v a="$a" -v b="$b" 'BEGIN { printf "%.2fx", a / b }'
    else echo -; fi
}
peer_cell() { local v; v=$(t "$1" "$2"); [ "$v" = - ] || [ "$v" = fail ] && echo "$v" || echo "$v ($(ratio "$1" "$2"))"; }

echo
echo "tessaro benchmark, $size size, median of $runs runs after one warm-up (seconds; ratio = tessaro / that)"
echo "load average at start: $load_start; at end: $(cut -d' ' -f1-3 /proc/loadavg) (on $(nproc) cores; wall >> CPU means other work competed)"
fmt='%-8s %6s %5s | %8s %8s %7s | %8s %8s %12s %8s %7s %7s | %15s | %15s %15s %15s %15s\n'
printf "$fmt" workload groups MiB tessaro CPU RSS-MiB stream write decode+write decode T/floor cpu \
    "plain join" ImageMagick vips-.v vips-.bmp GDAL
for name in "${rows[@]}"; do
    g=GROUPS_$name c=CODEC_$name m=MIB_$name
    floor_tool=stream
    [ "${!c}" != none ] && floor_tool=decode
    rss=-
    [ -n "${RSS[$name/tessaro]:-}" ] && rss=$(awk -v k="${RSS[$name/tessaro]}" 'BEGIN { printf "%.1f", k / 1024 }')
    cpu=-
    [ -n "${CPU[$name/tessaro]:-}" ] && cpu=$(printf '%.3f' "${CPU[$name/tessaro]}")
    printf "$fmt" "$name" "${!g}" "${!m}" "$(t "$name" tessaro)" "$cpu" "$rss" "$(t "$name" stream)" \
        "$(t "$name" write)" "$(t "$name" decode)" "$(t "$name" decodeonly)" "$(ratio "$name" "$floor_tool")" "$(ratio_cpu "$name" "$floor_tool")" \
        "$(peer_cell "$name" join)" "$(peer_cell "$name" im)" "$(peer_cell "$name" vipsv)" "$(peer_cell "$name" vipsbmp)" \
        "$(peer_cell "$name" gdal)"
done
echo "(T/floor: wall time against stream for uncompressed tiles, against decode+write for compressed"
echo " ones; cpu: the same ratio by CPU time, steadier when other work shares the cores;"
echo " plain join: bench's own straightforward joiner, same output bytes, for reference)"
for note in "${check_note[@]}"; do echo "check: $note"; done

pair() {  # "wall a/b (CPU a/b)" for tools $2 and $3 in workload $1
    local n=$1 a=$2 b=$3
    if [ -n "${WALL[$n/$a]:-}" ] && [ -n "${WALL[$n/$b]:-}" ]; then
        awk -v a="${WALL[$n/$a]}" -v b="${WALL[$n/$b]}" -v c="${CPU[$n/$a]}" -v d="${CPU[$n/$b]}" \
            'BEGIN { printf "%.3f / %.3f s = %.3fx (CPU %.3f / %.3f s = %.3fx)", a, b, a / b, c, d, (d > 0 ? c / d : 0) }'
    else echo -; fi
}
echo
echo "groups side by side (tessaro: every usable processor; onecpu: the same run under taskset -c 0):"
for name in "${rows[@]}"; do echo "  $name: onecpu / tessaro $(pair "$name" onecpu tessaro)"; done
echo
echo "a process per group (forked: the stream floor, each group in a child forked for it):"
for name in "${rows[@]}"; do
    [ -n "${WALL[$name/forked]:-}" ] || continue
    g=GROUPS_$name
    echo "  $name: forked / stream $(pair "$name" forked stream); tessaro / forked $(pair "$name" tessaro forked)"
    echo "  $name: ms per group: tessaro $(awk -v w="${WALL[$name/tessaro]:-0}" -v g="${!g}" 'BEGIN { printf "%.2f", w * 1000 / g }')," \
        "forked $(awk -v w="${WALL[$name/forked]}" -v g="${!g}" 'BEGIN { printf "%.2f", w * 1000 / g }')," \
        "stream $(awk -v w="${WALL[$name/stream]:-0}" -v g="${!g}" 'BEGIN { printf "%.2f", w * 1000 / g }')"
done
if [ "$tty" = 1 ]; then
    echo
    echo "status line (tty: standard error on a pseudo-terminal; ttyoff: same wrapper, redirected):"
    for name in "${rows[@]}"; do echo "  $name: tty / ttyoff $(pair "$name" tty ttyoff)"; done
fi
if [ -n "$compare" ]; then
    echo
    echo "against $compare:"
    for name in "${rows[@]}"; do echo "  $name: tessaro / other $(pair "$name" tessaro other)"; done
fi

echo
verdict() { [ "$1" = 1 ] && echo MET || echo MISSED; }
ok=1 parts=()
for name in "${rows[@]}"; do
    c=CODEC_$name; g=GROUPS_$name
    [ "${!c}" = none ] && [ "${!g}" = 1 ] || continue
    r=$(ratio "$name" stream); parts+=("$name $r (CPU $(ratio_cpu "$name" stream))")
    [ "$r" != - ] && awk -v r="${r%x}" 'BEGIN { exit !(r <= 2) }' || ok=0
done
[ ${#parts[@]} -gt 0 ] && echo "goal uncompressed <= 2x stream floor: ${parts[*]} -> $(verdict $ok)"
ok=1 parts=()
for name in "${rows[@]}"; do
    c=CODEC_$name
    [ "${!c}" != none ] || continue
    r=$(ratio "$name" decode); parts+=("$name $r (CPU $(ratio_cpu "$name" decode))")
    [ "$r" != - ] && awk -v r="${r%x}" 'BEGIN { exit !(r <= 1.2) }' || ok=0
done
[ ${#parts[@]} -gt 0 ] && echo "goal compressed <= 1.2x decode+write floor: ${parts[*]} -> $(verdict $ok)"
ok=1 parts=()
for name in "${rows[@]}"; do
    g=GROUPS_$name
    [ "${!g}" -gt 1 ] || continue
    if [ -n "${WALL[$name/tessaro]:-}" ]; then
        ms=$(awk -v w="${WALL[$name/tessaro]}" -v g="${!g}" 'BEGIN { printf "%.2f", w * 1000 / g }')
        parts+=("$name $ms ms/group (CPU $(awk -v c="${CPU[$name/tessaro]}" -v g="${!g}" 'BEGIN { printf "%.2f", c * 1000 / g }') ms)")
        awk -v m="$ms" 'BEGIN { exit !(m <= 2) }' || ok=0
    else parts+=("$name fail"); ok=0; fi
done
[ ${#parts[@]} -gt 0 ] && echo "goal many small groups <= 2 ms per group: ${parts[*]} -> $(verdict $ok)"
ok=1 worst=0 worst_name=-
for name in "${rows[@]}"; do
    k=${RSS[$name/tessaro]:-}
    [ -n "$k" ] || { ok=0; continue; }
    [ "$k" -gt "$worst" ] && worst=$k worst_name=$name
done
[ "$worst" -gt $((64 * 1024)) ] && ok=0
echo "goal peak RSS <= 64 MiB: largest $(awk -v k="$worst" 'BEGIN { printf "%.1f", k / 1024 }') MiB ($worst_name) -> $(verdict $ok)"
ok=1 parts=() measured=0
for name in "${rows[@]}"; do
    for p in im vipsv vipsbmp gdal; do
        [ -n "${WALL[$name/$p]:-}" ] || continue
        measured=1
        r=$(ratio "$name" "$p")
        awk -v r="${r%x}" 'BEGIN { exit !(r < 1) }' || { ok=0; parts+=("$name/$p $r"); }
    done
done
if [ "$measured" = 0 ]; then echo "goal faster than every peer: no peer measured"
elif [ "$ok" = 1 ]; then echo "goal faster than every peer: every ratio < 1 -> MET"
else echo "goal faster than every peer: not faster in ${parts[*]} -> MISSED"; fi
