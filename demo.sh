#!/usr/bin/env bash
# A full update of a simulated writer, as a user would see it: builds the console
# updater and writer-sim, starts a Solenne writer with an old application and an old
# boot loader on a private writer port, runs the updater against it (answering "Go!" and
# the OK of the success box), then shows the log file it wrote.
set -euo pipefail
cd "$(dirname "$0")"

tools/install-packages.sh cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev

build_dir=${DEMO_BUILD_DIR:-build/release}
echo "== Building the console updater and writer-sim (release, in $build_dir)"
cmake --preset release -B "$build_dir" > /dev/null
cmake --build "$build_dir" -j2 --target solenne-brisa-update writer-sim > "$build_dir/demo-build.log" 2>&1 || {
    cat "$build_dir/demo-build.log"
    exit 1
}
updater=$build_dir/app/solenne-brisa-update
writer_sim=$build_dir/sim/writer-sim

# Everything the demo touches lives in one temporary folder: the writer port and HOME.
work=$(mktemp -d)
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR=$work/run
export HOME=$work/home
mkdir -p "$XDG_RUNTIME_DIR" "$HOME/Documents"
chmod 0700 "$XDG_RUNTIME_DIR"

echo
echo "== Starting writer-sim: a Solenne (type 16) with application 2.05.00 build 14000"
echo "   and main boot loader 1.07.00 build 8000; its lines are marked 'writer |'"
"$writer_sim" --type 16 --version 0x02050000 --build 14000 --main-boot 0x01070000:8000 \
    > >(tee "$work/sim.out" | sed -u 's/^/    writer | /') 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do
    grep -q "ready on" "$work/sim.out" 2>/dev/null && break
    sleep 0.1
done
grep -q "ready on" "$work/sim.out" || { echo "writer-sim did not start"; exit 1; }

echo
echo "== Running solenne-brisa-update; the script answers: go, then OK"
started=$SECONDS
status=0
printf 'go\n\n' | "$updater" || status=$?

# writer-sim ends once the updater has closed its connection, after printing its summary.
for _ in $(seq 1 100); do
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
done
wait "$sim_pid" 2>/dev/null || true
sim_pid=""
sleep 0.2  # lets the last writer lines reach the terminal

echo
echo "== The log file, $HOME/Documents/CVUpdate.log"
cat "$HOME/Documents/CVUpdate.log" 2>/dev/null | sed 's/^/    /' || echo "    (no log file)"

echo
if [ "$status" -eq 0 ] && grep -q "restarted: yes" "$work/sim.out" && ! grep -q "MISMATCH" "$work/sim.out"; then
    echo "== Done in $((SECONDS - started)) s: the writer was updated, verified and restarted."
else
    echo "== The update did not complete (updater exit status $status)."
    [ "$status" -ne 0 ] || status=1
fi
exit "$status"
