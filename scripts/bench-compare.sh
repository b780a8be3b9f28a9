#!/bin/bash
# Runs two builds of the benchmark program in one run, one repetition of
# each in turn, and prints the median of the repetitions of every row with
# the change from the first to the second, and each build's log on against
# its floor as separate rows (the way a user times a traced call).
#
#   scripts/bench-compare.sh OLD_BENCH NEW_BENCH [REPETITIONS] [FILTER]
#
# Build both in Release (see docs/performance.md). The runs are pinned to
# the second core at real-time priority where that is allowed.
set -euo pipefail
old=$1 new=$2 reps=${3:-5} filter=${4:-.}
out=$(mktemp -d)
run=(taskset -c 1)
if chrt -f 10 true 2>/dev/null; then run=(chrt -f 10 taskset -c 1); fi
for ((i = 0; i < reps; i++)); do
    for side in old new; do
        bench=${!side}
        "${run[@]}" "$bench" --benchmark_filter="$filter" --benchmark_min_time=0.3 \
            --benchmark_format=json >"$out/$side.$i.json" 2>/dev/null
    done
    echo "repetition $((i + 1)) of $reps done" >&2
done
python3 - "$out" "$reps" <<'PY'
import json, statistics, sys
out, reps = sys.argv[1], int(sys.argv[2])
rows, paired = {}, {}
for side in ("old", "new"):
    for i in range(reps):
        for b in json.load(open(f"{out}/{side}.{i}.json"))["benchmarks"]:
            rows.setdefault(b["name"], {}).setdefault(side, []).append(b["real_time"])
            if "on_per_floor" in b:
                paired.setdefault(b["name"], {}).setdefault(side, []).append(b["on_per_floor"])
med = {n: {s: statistics.median(v) for s, v in sides.items()} for n, sides in rows.items()}
print(f"{'row':34} {'old ns':>10} {'new ns':>10} {'change':>8}")
for name, m in med.items():
    if "old" in m and "new" in m:
        print(f"{name:34} {m['old']:10.1f} {m['new']:10.1f} {100 * (m['new'] / m['old'] - 1):+7.1f}%")
print()
print(f"{'triplet':20} {'old on/floor':>13} {'new on/floor':>13}  (separate rows; paired rows: old, new)")
for name in med:
    if name.endswith("/LogOn"):
        t = name[: -len("/LogOn")]
        f = med.get(t + "/Floor")
        if f:
            r = {s: med[name][s] / f[s] for s in ("old", "new") if s in f and s in med[name]}
            p = {s: statistics.median(v) for s, v in paired.get(t + "/Paired", {}).items()}
            extra = f"  {p.get('old', 0):.2f} {p.get('new', 0):.2f}" if p else ""
            print(f"{t:20} {r.get('old', 0):13.2f} {r.get('new', 0):13.2f}{extra}")
PY
rm -rf "$out"
