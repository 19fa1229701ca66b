#!/usr/bin/env bash
# Runs the whole benchmark suite against a Release or RelWithDebInfo build and prints one table of
# ratios (median over rounds, the spread as the lowest and highest round) against their goals.
# Sides that must not share a process run in fresh processes; the other benchmarks are run
# ROUNDS times, each time in a new process, and the median and spread taken over those runs.
#
# Usage: bench/run-all.sh BUILD_DIR [DATA_DIR]
#   BUILD_DIR  built with -DZUZIRE_BENCHMARKS=ON -DZUZIRE_SANITIZE=OFF (see bench/README.md)
#   DATA_DIR   where the generated album data is kept between runs (about 130 MB);
#              default ${TMPDIR:-/tmp}/zuzire-bench
# Environment: ROUNDS (default 5) rounds per ratio; QUICK=1 leaves out the 100,000-photo runs.
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [DATA_DIR]}
data=${2:-${TMPDIR:-/tmp}/zuzire-bench}
rounds=${ROUNDS:-5}
results=$(mktemp)
trap 'rm -f "$results"' EXIT

row() { # name median low high goal kind
    printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$@" >>"$results"
}

# Runs a command that ends with "RESULT NAME DETAIL ratio=M low=L high=H goal=G" lines, shows
# its output and adds those lines to the table.
measure() {
    local output
    if ! output=$("$@" 2>&1); then
        printf '%s\nFAILED: %s\n' "$output" "$*"
        return 0
    fi
    printf '%s\n' "$output"
    printf '%s\n' "$output" | awk '/^RESULT/ { sub("ratio=", "", $4); sub("low=", "", $5); sub("high=", "", $6);
        sub("goal=", "", $7); printf "%s %s\t%s\t%s\t%s\t%s\t%s\n", $2, $3, $4, $5, $6, $7, ($2 ~ /-ms$/ ? "ms" : "ratio") }' \
        >>"$results"
}

# On a virtual machine the host can take the processor away ("steal"), which slows every figure
# alike without showing in the load average: each section reports its share.
cpu_times() { awk '/^cpu / { print $2 + $3 + $4 + $5 + $6 + $7 + $8 + $9, $9 }' /proc/stat; }
steal_share() { # "total steal" taken before: the share of processor time stolen since, in per cent
    local before=($1) now=($(cpu_times))
    awk -v t="$((now[0] - before[0]))" -v s="$((now[1] - before[1]))" \
        'BEGIN { printf "%.1f", (t > 0 ? 100 * s / t : 0) }'
}
run_start=$(cpu_times)
section_start=$run_start
section() { # ends the previous section with its steal share, then names the next one
    [[ -z ${section_name:-} ]] || echo "   (host steal during $section_name: $(steal_share "$section_start") %)"
    section_name=$1
    section_start=$(cpu_times)
    [[ $1 == end ]] || echo "== $1"
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

sizes=(10000)
[[ ${QUICK:-0} == 1 ]] || sizes+=(100000)
for photos in "${sizes[@]}"; do
    file=$data/reload/$photos/AlbumData.xml
    [[ -f $file ]] || "$build/bench/library/AlbumReloadBench" make "$data/reload/$photos" "$photos" >/dev/null
    section "AlbumReloadBench compare $file $rounds"
    measure "$build/bench/library/AlbumReloadBench" compare "$file" "$rounds"
done

# The importer's own output: a library built by `zuzire-library import` from generated photos.
import=$data/import
if [[ ! -f $import/Library/AlbumData.xml ]]; then
    "$build/bench/library/AlbumReloadBench" photos "$import/photos" 10000
    # A configuration folder of its own, so the import registers nothing in the user's.
    XDG_CONFIG_HOME=$import/config "$build/bin/zuzire-library" import --recursive --library "$import/Library" \
        "$import/photos" >/dev/null
fi
section "AlbumReloadBench compare $import/Library/AlbumData.xml $rounds"
measure "$build/bench/library/AlbumReloadBench" compare "$import/Library/AlbumData.xml" "$rounds"

# The real program: memory and the stall after Select, at the largest size measured.
section "ProgramLibraryBench ${sizes[-1]} photos"
measure "$build/bench/ProgramLibraryBench" "$build/bin/zuzire" "$data/reload/${sizes[-1]}/AlbumData.xml" 3

section "StartupBench $((rounds * 3)) rounds, the picker with the loading wait of 1 s and of none"
measure "$build/bench/StartupBench" "$build/bin/zuzire" "$build/bench/MinimalTextWindow" \
    "$data/reload/${sizes[0]}/AlbumData.xml" $((rounds * 3)) 1 0

section "PhotoDecodeBench $((rounds * 3))"
measure "$build/bench/library/PhotoDecodeBench" $((rounds * 3))
section "RawPreviewDecodeBench $((rounds * 3))"
measure "$build/bench/library/RawPreviewDecodeBench" $((rounds * 3))

# An insertion sort, as awk has none of its own everywhere.
sortnum='function sortnum(x, n,    i, j, t) { for (i = 2; i <= n; i++) { t = x[i] + 0;
    for (j = i - 1; j > 0 && x[j] + 0 > t; j--) x[j + 1] = x[j]; x[j + 1] = t } }'

for photos in "${sizes[@]}"; do
    section "RateBench process $photos photos, $rounds rounds of whole processes"
    measure "$build/bench/library/RateBench" process "$build/bin/zuzire-library" "$build/bench/library/RateFloor" \
        "$data/rate/$photos" "$photos" "$rounds"
done
section "RateBench in one process, the sides taking turns"
rate_filter=.
[[ ${QUICK:-0} == 1 ]] && rate_filter='/10000/'
measure "$build/bench/library/RateBench" --benchmark_filter="$rate_filter" --benchmark_color=false

section "SidecarRateBench $rounds rounds, sidecars of 1, 4, 16 and 60 MB"
measure "$build/bench/library/SidecarRateBench" "$rounds"

section "ItemDisplayFrameBench x$rounds"
for _ in $(seq "$rounds"); do
    "$build/bench/ItemDisplayFrameBench" 2>/dev/null |
        sed -n 's/^\([0-9x]*\) \([^:]*\): .*, ratio \([0-9.]*\) .*/\1_\2 \3/p' | tr ' ' '_' | sed 's/_\([0-9.]*\)$/ \1/'
done | awk -v goal=1.5 "$sortnum"'{ v[$1] = v[$1] " " $2 }
    END { for (k in v) { n = split(substr(v[k], 2), x, " "); sortnum(x, n);
              m = n % 2 ? x[(n + 1) / 2] : (x[n / 2] + x[n / 2 + 1]) / 2;
              printf "strip-frame %s\t%.3f\t%.3f\t%.3f\t%s\tratio\n", k, m, x[1], x[n], goal } }' >>"$results"

# Absolute goals: the median of repetitions in one process, the spread over the repetitions.
absolute() { # label goal unit field command...
    local label=$1 goal=$2 field=$3
    shift 3
    "$@" --benchmark_repetitions="$rounds" --benchmark_format=json 2>/dev/null |
        python3 -c '
import json, statistics, sys
label, goal, field = sys.argv[1:4]
runs = [b for b in json.load(sys.stdin)["benchmarks"] if b.get("run_type") == "iteration"]
names = sorted({b["run_name"] for b in runs})
for name in names:
    values = [b[field] for b in runs if b["run_name"] == name]
    # A reference is what the goal is read against, not held to it.
    held = "-" if "Reference" in name else goal
    print(f"{label} {name}\t{statistics.median(values):.4f}\t{min(values):.4f}\t{max(values):.4f}\t{held}\t{field}")
' "$label" "$goal" "$field" >>"$results"
}
section "LayerPainterBench, RemoteFloodBench"
absolute layers 16.7 real_time "$build/bench/LayerPainterBench"
absolute remote 0.05 share_of_a_second "$build/bench/RemoteFloodBench" --benchmark_filter=throughTheDriver

section end
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "host steal over the whole run: $(steal_share "$run_start") % of processor time"
echo
printf '%-58s %9s %21s %6s  %s\n' benchmark median spread goal verdict
while IFS=$'\t' read -r name median low high goal kind; do
    verdict=$(awk -v m="$median" -v h="$high" -v g="$goal" 'BEGIN {
        if (g !~ /^[0-9.]+$/) print "reported"; else
        print (h <= g ? "met" : m <= g ? "median met, spread crosses" : "MISSED") }')
    [[ $kind == ratio ]] || name="$name ($kind)"
    printf '%-58s %9.4g %10.4g-%-10.4g %6s  %s\n' "$name" "$median" "$low" "$high" "$goal" "$verdict"
done <"$results"
echo
echo "Goals are upper limits. Figures on a loaded machine are provisional: compare the load averages."
echo "Sound latency needs a sound server: bench/audio/sound-latency.sh $build (see bench/README.md)."
