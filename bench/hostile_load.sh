#!/usr/bin/env bash
# The server under hostile load, in one run, with its default settings:
#   1. 40 clients without credentials each try to send a 200 MiB body at
#      once: the server's peak resident memory (VmHWM) while they do;
#   2. 5,000 slow connections held from 127.0.0.2 (a request line, then one
#      header byte every few seconds): the latency of a legitimate request
#      from 127.0.0.1 meanwhile (median and worst of 20).
# Prints figures; asserts nothing. Loopback only.
# Usage: bench/hostile_load.sh [server-binary]   (default build/quelvar-server)
#   SLOW=n      slow connections (default 5000)
#   SENDERS=n   unauthenticated senders (default 40), BODY_MIB=n each (default 200)
set -euo pipefail
cd "$(dirname "$0")/.."
server_bin=$(realpath "${1:-build/quelvar-server}")
slow="${SLOW:-5000}"
senders="${SENDERS:-40}"
body_mib="${BODY_MIB:-200}"

# Every slow connection holds a descriptor here.
ulimit -n "$(ulimit -Hn)"

source bench/fresh_server.sh
start_fresh_server "$server_bin"
echo "server pid $server_pid on 127.0.0.1:$port (default limits)"

python3 - "$port" "$server_pid" "$slow" "$senders" "$body_mib" <<'PY'
import base64, socket, statistics, sys, threading, time

port, pid, slow, senders, body_mib = (int(a) for a in sys.argv[1:])
auth = "Basic " + base64.b64encode(b"varosa:quibet4693").decode()

def status_kib(field):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0

# --- 1. unauthenticated senders of large bodies ---------------------------
chunk = b"x" * (1 << 20)
sent_total = [0] * senders
refused = [0] * senders

def sender(i):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(f"POST /DWServerEventsT04_MATE/Grava HTTP/1.1\r\nHost: x\r\n"
              f"Content-Length: {body_mib << 20}\r\n\r\n".encode())
    try:
        for _ in range(body_mib):
            s.sendall(chunk)
            sent_total[i] += len(chunk)
    except OSError:
        pass
    try:
        s.settimeout(5)
        refused[i] = s.recv(64).startswith(b"HTTP/1.1 401")
    except OSError:
        pass
    s.close()

rss_before = status_kib("VmRSS")
started = time.monotonic()
threads = [threading.Thread(target=sender, args=(i,)) for i in range(senders)]
for t in threads: t.start()
for t in threads: t.join()
took = time.monotonic() - started
peak = status_kib("VmHWM")
print(f"1. {senders} unauthenticated senders of {body_mib} MiB each: {took:.1f} s; "
      f"they got {sum(sent_total) / 2**20:.0f} MiB into the socket in all; "
      f"{sum(refused)} read a 401 (the others were cut off before reading it)")
print(f"   server resident memory: {rss_before / 1024:.1f} MiB before, peak {peak / 1024:.1f} MiB (target < 1536 MiB)")

# --- 2. slow connections from 127.0.0.2, a legitimate client from 127.0.0.1 ---
held = []
for _ in range(slow):
    s = socket.socket()
    s.bind(("127.0.0.2", 0))
    s.connect(("127.0.0.1", port))
    s.send(b"GET /Sobre HTTP/1.1\r\n")
    s.setblocking(False)
    held.append(s)
stop = threading.Event()

def trickle():
    # One header byte per connection every 5 s, for as long as it stays open.
    while not stop.wait(5):
        for s in held:
            try:
                s.send(b"X")
            except OSError:
                pass

threading.Thread(target=trickle, daemon=True).start()
time.sleep(1)

def still_open(s):
    try:
        return s.recv(1) != b""
    except BlockingIOError:
        return True
    except OSError:
        return False

open_count = sum(1 for s in held if still_open(s))
request = f"GET /Sobre HTTP/1.1\r\nAuthorization: {auth}\r\n\r\n".encode()
latencies = []
for _ in range(20):
    t0 = time.monotonic()
    c = socket.socket()
    c.bind(("127.0.0.1", 0))
    c.settimeout(30)
    c.connect(("127.0.0.1", port))
    c.sendall(request)
    reply = b""
    while True:
        data = c.recv(65536)
        if not data: break
        reply += data
    c.close()
    latencies.append(time.monotonic() - t0)
    ok = reply.startswith(b"HTTP/1.1 200")
    if not ok: print("   unexpected reply:", reply[:80])
    time.sleep(0.1)
stop.set()
print(f"2. {slow} slow connections opened from 127.0.0.2, {open_count} held open by the server "
      f"(the rest closed at once by the per-address cap)")
print(f"   legitimate request from 127.0.0.1: median {statistics.median(latencies) * 1000:.1f} ms, "
      f"worst {max(latencies) * 1000:.1f} ms of 20 (target < 1000 ms)")
print(f"   server threads meanwhile: {len(__import__('os').listdir(f'/proc/{pid}/task'))}")
for s in held: s.close()
PY
