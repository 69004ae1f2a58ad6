#!/usr/bin/env bash
# Records of velmarixon-send reach an MQTT broker line by line, without code of ours in between:
# a mosquitto broker on 127.0.0.1 on a free port, a poll of the device simulator piped into
# mosquitto_pub -l, and a subscriber that must receive every record byte for byte, each one a
# record velmarixon-trend reads.
#   tst_mqtt_records.sh SEND_PROGRAM SIM_PROGRAM TREND_PROGRAM
set -euo pipefail
send=$1 sim=$2 trend=$3
records=40
readings=12.5,12.75,13,12.25,-0.5

mosquitto=$(command -v mosquitto || echo /usr/sbin/mosquitto)
if [ ! -x "$mosquitto" ] || ! command -v mosquitto_pub >/dev/null || ! command -v mosquitto_sub >/dev/null; then
    echo "SKIP: mosquitto and mosquitto-clients are not installed (scripts/test.sh installs them)"
    exit 77
fi

work=$(mktemp -d)
broker_pid="" sim_pid="" sub_pid=""
cleanup() {
    for pid in $sub_pid $sim_pid $broker_pid; do kill "$pid" 2>/dev/null || true; done
    for pid in $sub_pid $sim_pid $broker_pid; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
# Run as root, the broker gives up root for the user mosquitto; it must still read its config.
chmod 755 "$work"

fail() {
    echo "FAIL: $*" >&2
    for log in broker.log sim.log sub.err send.err pub.err; do
        [ -s "$log" ] && { echo "--- $log" >&2; tail -n 20 "$log" >&2; }
    done
    exit 1
}

# Waits up to 10 s for a pattern in a file while the process lives.
wait_for() {
    local pattern=$1 file=$2 pid=$3 i
    for ((i = 0; i < 200; i++)); do
        grep -q -E "$pattern" "$file" 2>/dev/null && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}

# A free port: the broker tries ports until one is not taken.
port=""
for attempt in 1 2 3 4 5 6 7 8 9 10; do
    candidate=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nlog_dest stderr\nlog_type all\n' \
        "$candidate" >broker.conf
    chmod 644 broker.conf
    "$mosquitto" -c broker.conf 2>broker.log &
    broker_pid=$!
    if wait_for "Opening ipv4 listen socket on port $candidate" broker.log "$broker_pid"; then
        port=$candidate
        break
    fi
    kill "$broker_pid" 2>/dev/null || true
    wait "$broker_pid" 2>/dev/null || true
    broker_pid=""
done
[ -n "$port" ] || fail "the broker did not start on any of 10 ports"

"$sim" udp --port 0 --reading-list "$readings" </dev/null >sim.log 2>&1 &
sim_pid=$!
wait_for '^udp: listening' sim.log "$sim_pid" || fail "the simulator did not start"
sim_port=$(sed -n 's/^udp: listening on 127\.0\.0\.1:\([0-9]*\),.*/\1/p' sim.log)

topic="velmarixon/test-site/udp-127.0.0.1-$sim_port/1"
mosquitto_sub -h 127.0.0.1 -p "$port" -t 'velmarixon/test-site/#' -C "$records" -W 60 \
    >received.jsonl 2>sub.err &
sub_pid=$!
wait_for 'Received SUBSCRIBE' broker.log "$sub_pid" || fail "the subscriber did not subscribe"

"$send" --port "udp:127.0.0.1:$sim_port" --local-port 0 --count "$records" --interval-ms 5 \
    --output jsonl 2>send.err | tee sent.jsonl |
    mosquitto_pub -l -h 127.0.0.1 -p "$port" -t "$topic" 2>pub.err ||
    fail "the poll or the publisher failed"

wait "$sub_pid" || fail "the subscriber ended with status $? before $records records"
sub_pid=""

[ "$(wc -l <sent.jsonl)" -eq "$records" ] || fail "velmarixon-send wrote $(wc -l <sent.jsonl) records"
cmp sent.jsonl received.jsonl || fail "the records received differ from those sent"
# Every record a reply with the simulator's readings, in their order.
expected=$(for ((i = 0; i < records; i++)); do
    IFS=, read -ra list <<<"$readings"
    echo "${list[i % ${#list[@]}]}"
done)
got=$(sed -n 's/.*"outcome":"reply","payload":"\([^"]*\)".*/\1/p' received.jsonl)
[ "$got" = "$expected" ] || fail "the payloads received are not the simulator's readings in turn"
# And each one a record velmarixon-trend reads: none skipped.
"$trend" --render trend.svg received.jsonl 2>trend.err || fail "velmarixon-trend failed: $(cat trend.err)"
grep -q ": $records records in 1 series, 0 lines skipped" trend.err ||
    fail "velmarixon-trend did not read every record: $(cat trend.err)"
echo "PASS: $records records through the broker on 127.0.0.1:$port, intact and readable"
