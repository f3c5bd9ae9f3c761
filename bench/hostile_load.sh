#!/usr/bin/env bash
# The server under hostile load, with its default settings, in one run:
#   1. eight authenticated uploads of 200 MiB at once (announced length, then
#      chunked) against the default 1,024 MiB body budget: the server's peak
#      resident memory (VmHWM) in each round, and how many got a readable 503;
#   2. eight memory-heavy free queries at once (six aggregates of about 40 MB
#      each): the peak resident memory, and how each ended;
#   3. 4,300 half-open connections from 18 loopback addresses (a request line
#      and part of a header, never finished): the latency of a legitimate
#      request meanwhile (median and worst of 20);
#   4. a burst of 900 connections opened and closed: the descriptors the
#      server holds afterwards.
# Prints figures; asserts nothing. Loopback only.
# Usage: bench/hostile_load.sh [server-binary]   (default build/quelvar-server)
#   UPLOADS=n BODY_MIB=n   uploads per round (default 8) of n MiB (default 200)
#   QUERIES=n              free queries at once (default 8)
#   HALF_OPEN=n            half-open connections (default 4300)
set -euo pipefail
cd "$(dirname "$0")/.."
server_bin=$(realpath "${1:-build/quelvar-server}")

# Every half-open connection holds a descriptor here (and one in the server).
ulimit -n "$(ulimit -Hn)"

source bench/fresh_server.sh
start_fresh_server "$server_bin"
echo "server pid $server_pid on 127.0.0.1:$port (default limits)"
grep -o 'connections [0-9]* (open files [^)]*)' "$work/stderr" || true

python3 - "$work/stderr" "$port" "$server_pid" "${UPLOADS:-8}" "${BODY_MIB:-200}" "${QUERIES:-8}" "${HALF_OPEN:-4300}" <<'PY'
import base64, json, os, socket, statistics, sys, threading, time

log_file = sys.argv[1]
port, pid, uploads, body_mib, queries, half_open = (int(a) for a in sys.argv[2:])
auth = "Authorization: Basic " + base64.b64encode(b"varosa:quibet4693").decode() + "\r\n"

def status_mib(field):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) / 1024
    return 0

def reset_peak():
    with open(f"/proc/{pid}/clear_refs", "w") as refs:
        refs.write("5")

def read_all(s, timeout=60):
    s.settimeout(timeout)
    reply = b""
    try:
        while True:
            data = s.recv(65536)
            if not data: break
            reply += data
    except OSError:
        pass
    return reply

# --- 1. eight large authenticated uploads ----------------------------------
def upload(chunked, results, i):
    s = socket.create_connection(("127.0.0.1", port))
    piece = b"x" * (1 << 20)
    head = f"POST /Sobre HTTP/1.1\r\n{auth}"
    head += "Transfer-Encoding: chunked\r\n\r\n" if chunked else f"Content-Length: {body_mib << 20}\r\n\r\n"
    try:
        s.sendall(head.encode())
        for _ in range(body_mib):
            s.sendall(b"100000\r\n" + piece + b"\r\n" if chunked else piece)
        if chunked: s.sendall(b"0\r\n\r\n")
        results[i] = read_all(s).split(b"\r\n")[0].decode() or "closed without a reply"
    except OSError as failure:
        results[i] = f"cut off while sending ({failure.strerror})"
    s.close()

for chunked in (False, True):
    reset_peak()
    before = status_mib("VmRSS")
    results = [None] * uploads
    started = time.monotonic()
    threads = [threading.Thread(target=upload, args=(chunked, results, i)) for i in range(uploads)]
    for t in threads: t.start()
    for t in threads: t.join()
    outcome = {r: results.count(r) for r in set(results)}
    print(f"1. {uploads} uploads of {body_mib} MiB, {'chunked' if chunked else 'announced length'}: "
          f"{time.monotonic() - started:.1f} s; peak {status_mib('VmHWM'):.0f} MiB (before {before:.0f} MiB); {outcome}")

# --- 2. memory-heavy free queries at once ----------------------------------
def param(name, value, direction="odIN"):
    encoded = base64.b64encode(value.encode()).decode() if value is not None else None
    return json.dumps({"ObjectType": "toParam", "Direction": direction, "Encoded": "true",
                       "ValueType": "ovString", name: encoded}, separators=(",", ":"))

group = json.dumps({"ObjectType": "toObject", "Direction": "odIN", "Encoded": "true", "ValueType": "ovString",
                    "TAGJSON": base64.b64encode(b"DWServerEventsFerramentas").decode()}, separators=(",", ":"))
aggregates = ", ".join(["length(group_concat(hex(randomblob(200))))"] * 6)
sql = (f"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
       f"SELECT {aggregates} FROM n")

def free_query(results, i):
    fields = [("dwservereventname", group), ("SQL", param("SQL", sql)), ("Tabela", param("Tabela", None, "odOUT"))]
    body = "".join(f"--B\r\nContent-Disposition: form-data; name=\"{n}\"\r\n\r\n{v}\r\n" for n, v in fields) + "--B--\r\n"
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall((f"POST /QueryDinamica HTTP/1.1\r\n{auth}Content-Type: multipart/form-data; boundary=B\r\n"
               f"Content-Length: {len(body.encode())}\r\n\r\n{body}").encode())
    reply = read_all(s, 120)
    s.close()
    results[i] = len(reply)

reset_peak()
before = status_mib("VmRSS")
results = [None] * queries
threads = [threading.Thread(target=free_query, args=(results, i)) for i in range(queries)]
started = time.monotonic()
for t in threads: t.start()
for t in threads: t.join()
log = open(log_file, encoding="utf-8", errors="replace").read()
print(f"2. {queries} free queries of six 40 MB aggregates at once: {time.monotonic() - started:.1f} s; "
      f"peak {status_mib('VmHWM'):.0f} MiB (before {before:.0f} MiB); replies of {sorted(results)} bytes; "
      f"{log.count('passou do limite de memória')} stopped by the memory budget, "
      f"{log.count('consultas em andamento')} refused for the number at once")

# --- 3. half-open connections and a legitimate request ---------------------
held = []
for i in range(half_open):
    s = socket.socket()
    s.bind((f"127.0.2.{1 + i % 18}", 0))
    s.connect(("127.0.0.1", port))
    s.send(b"GET /Sobre HTTP/1.1\r\nX-Half: ")
    held.append(s)
time.sleep(1)
request = f"GET /Sobre HTTP/1.1\r\n{auth}\r\n".encode()
latencies = []
for _ in range(20):
    t0 = time.monotonic()
    c = socket.create_connection(("127.0.0.1", port))
    c.sendall(request)
    reply = read_all(c, 90)
    c.close()
    latencies.append(time.monotonic() - t0)
    if not reply.startswith(b"HTTP/1.1 200"): print("   unexpected reply:", reply[:80])
print(f"3. {half_open} half-open connections from 18 addresses: legitimate request median "
      f"{statistics.median(latencies) * 1000:.1f} ms, worst {max(latencies) * 1000:.1f} ms of 20; "
      f"server threads {len(os.listdir(f'/proc/{pid}/task'))}, descriptors {len(os.listdir(f'/proc/{pid}/fd'))}")
for s in held: s.close()

# --- 4. a burst opened and closed -------------------------------------------
burst = []
for i in range(900):
    s = socket.socket()
    s.bind((f"127.0.3.{1 + i % 6}", 0))
    s.connect(("127.0.0.1", port))
    s.send(b"GET /Sobre HTTP/1.1\r\n")
    burst.append(s)
for s in burst: s.close()
time.sleep(2)
print(f"4. after 900 connections opened and closed: server descriptors {len(os.listdir(f'/proc/{pid}/fd'))}, "
      f"threads {len(os.listdir(f'/proc/{pid}/task'))}")
PY
