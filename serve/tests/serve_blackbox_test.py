#!/usr/bin/env python3
"""korvalinde-serve as it is used: started on a free loopback port over the
sample key list, a names file and korvalinde-html's output of the sample,
then asked over real sockets. /api/path is compared with korvalinde-path
--json on the same pairs; the report directory is attacked; slow clients,
an oversized request, reloads under load and a stop during requests.

usage: serve_blackbox_test.py SERVE PATH KORVALINDE KORVALINDE_HTML SAMPLE"""
import http.client
import json
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

SERVE, PATH, KORVALINDE, HTML, SAMPLE = sys.argv[1:6]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, flush=True)


def key_ids(keys_path):
    with open(keys_path, "rb") as f:
        return [line[1:17].decode() for line in f if line.startswith(b"p")]


def write_names(path, ids):
    with open(path, "wb") as f:
        for i, key in enumerate(ids):
            name = "Person %d <p%d@example.org>" % (i, i)
            if i == 3:  # markup and a right-to-left override in a user id
                name = "<script>alert(1)</script> \u202eevil \"q\" & 'a'"
            f.write(("%s\t%s\n" % (key, name)).encode())


class Server:
    def __init__(self, work, keys, names, reports):
        self.log = open(os.path.join(work, "serve.log"), "wb")
        self.proc = subprocess.Popen(
            [SERVE, "-i", keys, "-N", names, "-r", reports, "-l", "127.0.0.1:0", "-j", "2"],
            stdout=subprocess.PIPE, stderr=self.log)
        line = self.proc.stdout.readline().decode()
        m = re.match(r"listening on http://127\.0\.0\.1:(\d+)/$", line.strip())
        if not m:
            raise SystemExit("the server did not say where it listens: %r" % line)
        self.port = int(m.group(1))

    def connection(self):
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)

    def get(self, path, headers=None, method="GET", conn=None):
        own = conn is None
        conn = conn or self.connection()
        conn.request(method, path, headers=headers or {})
        r = conn.getresponse()
        body = r.read()
        if own:
            conn.close()
        return r.status, dict((k.lower(), v) for k, v in r.getheaders()), body

    def raw(self, data, wait=5):
        s = socket.create_connection(("127.0.0.1", self.port), timeout=wait)
        s.sendall(data)
        reply = b""
        try:
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                reply += chunk
        except (socket.timeout, ConnectionResetError):
            pass
        s.close()
        return reply


def reference_answers(keys, names, pairs):
    text = "".join("%s %s\n" % p for p in pairs)
    out = subprocess.run([PATH, "-i", keys, "-N", names, "--json", "-"], input=text.encode(),
                         capture_output=True, check=False).stdout.decode()
    return [json.loads(line) for line in out.splitlines()]


def check_paths(server, keys, names, ids):
    rng = random.Random(7)
    pairs = [(rng.choice(ids), rng.choice(ids)) for _ in range(300)]
    pairs += [(ids[0], ids[0]), (ids[5][8:], ids[9]), ("0x" + ids[2], ids[3].lower())]
    expected = reference_answers(keys, names, pairs)
    check(len(expected) == len(pairs), "korvalinde-path answered every pair")
    conn = server.connection()
    reachable = 0
    long_pair = None
    for (a, b), want in zip(pairs, expected):
        status, headers, body = server.get("/api/path?from=%s&to=%s" % (a, b), conn=conn)
        got = json.loads(body)
        if "error" in want:
            check(status in (400, 404) and "error" in got, "error for %s %s" % (a, b))
            continue
        check(status == 200 and got == want, "/api/path %s %s: %s vs %s" % (a, b, got, want))
        reachable += want["hops"] is not None
        if want["hops"] is not None and want["hops"] >= 2 and len(want["paths"]) == 1:
            long_pair = (a, b, want)
    check(reachable > 50, "enough reachable pairs compared (%d)" % reachable)
    conn.close()
    want = reference_answers(keys, names, [(ids[0], ids[1])])[0]
    want_n = [json.loads(line) for line in subprocess.run(
        [PATH, "-i", keys, "-N", names, "--json", "-n", "3", "-k", "20", ids[0], ids[1]],
        capture_output=True).stdout.decode().splitlines()][0]
    got = json.loads(server.get("/api/path?from=%s&to=%s&n=3&k=20" % (ids[0], ids[1]))[2])
    check(got == want_n, "n and k as korvalinde-path's -n and -k")
    # The page of a path, asked by names: the chain of the reference's path.
    want = long_pair[2]
    a, b = want["from"], want["to"]
    page = server.get("/path?from=%s&to=%s" % (
        "person+%d+%%3C" % ids.index(a), "person+%d+%%3C" % ids.index(b)))[2].decode()
    chain = re.findall(r'<li><a class="id" href="/key/([0-9A-F]{16})">', page)
    check(chain == want["paths"][0], "the path page's chain: %s vs %s" % (chain, want["paths"]))
    check(all(("Person %d &lt;" % ids.index(k)) in page for k in chain), "names on the chain")


def check_endpoints(server, ids):
    cases = [  # path, status, type prefix, body part
        ("/", 200, "text/html", b"<form action=\"/path\""),
        ("/?q=person+1", 200, "text/html", b"/key/" + ids[1].encode()),
        ("/healthz", 200, "text/plain", b"ok\nkeys 400\n"),
        ("/api/search?q=PERSON%201&limit=100", 200, "application/json", b"\"Person 1 <p1@"),
        ("/api/search?q=" + ids[7][:10], 200, "application/json", ids[7].encode()),
        ("/api/search?q=x&limit=500", 400, "application/json", b"\"error\""),
        ("/api/key/" + ids[3], 200, "application/json", b"<script>alert(1)</script>"),
        ("/api/key/0000000000000001", 404, "application/json", b"unknown key"),
        ("/api/path?from=zz&to=" + ids[0], 400, "application/json", b"malformed"),
        ("/api/path?from=%s&to=%s&n=1001" % (ids[0], ids[1]), 400, "application/json", b"n must"),
        ("/key/" + ids[3], 200, "text/html", b"<bdi>&lt;script&gt;"),
        ("/path?from=person+10+%3C&to=" + ids[11], 200, "text/html",
         b"<bdi>Person 10 &lt;p10@example.org&gt;</bdi>"),
        ("/path?from=person+1&to=" + ids[11], 400, "text/html", b"several keys"),
        ("/static/search.js", 200, "text/javascript", b"/api/search"),
        ("/reports/", 200, "text/html", b"<!DOCTYPE html>"),
        ("/reports/msd.txt", 200, "text/plain", b" "),
        ("/nowhere", 404, "text/html", b"no such page"),
    ]
    for path, status, ctype, part in cases:
        got, headers, body = server.get(path)
        check(got == status, "%s: status %d, not %d" % (path, got, status))
        check(headers.get("content-type", "").startswith(ctype), "%s: type %s" % (path, headers))
        check(part in body, "%s: body lacks %r" % (path, part))
        check(headers.get("x-content-type-options") == "nosniff", path + ": nosniff")
        check("default-src 'self'" in headers.get("content-security-policy", ""), path + ": CSP")
    check(b"<script>" not in server.get("/key/" + ids[3])[2], "markup in a name is escaped")
    status, headers, body = server.get("/", method="HEAD")
    check(status == 200 and body == b"" and "etag" in headers, "HEAD: headers, no body")
    check(server.get("/", headers={"If-None-Match": headers.get("etag", "")})[0] == 304,
          "If-None-Match with the tag: 304")
    check(server.get("/", method="POST")[0] == 405, "POST: 405")
    check(server.get("/", method="DELETE")[0] == 405, "DELETE: 405")


def check_reports(server, reports, work):
    with open(os.path.join(work, "secret"), "w") as f:
        f.write("SECRET\n")
    os.symlink(os.path.join(work, "secret"), os.path.join(reports, "leak"))
    os.symlink(work, os.path.join(reports, "up"))
    os.mkdir(os.path.join(reports, "sub"))
    for target in ["/reports/../secret", "/reports/%2e%2e/secret", "/reports/..%2fsecret",
                   "/reports/%2E%2E%2Fsecret", "/reports/sub/../../secret", "/reports/leak",
                   "/reports/up/secret", "/reports/sub/", "/reports/sub", "/reports//etc/passwd",
                   "/reports/%2fetc/passwd", "/reports/keys/", "/reports/.%2e/secret",
                   "/reports/index.html%00.txt"]:
        reply = server.raw(("GET %s HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"
                            % target).encode())
        status = reply.split(b" ", 2)[1] if reply.startswith(b"HTTP/1.1 ") else b"none"
        check(status in (b"400", b"404"), "%s: status %s" % (target, status))
        check(b"SECRET" not in reply and b"root:" not in reply, target + ": leaked")


def check_limits(server):
    fits = b"GET /healthz HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * 7000 + b"\r\n\r\n"
    check(server.raw(fits).startswith(b"HTTP/1.1 200"), "a 7 KB header is answered")
    over = b"GET /healthz HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * 10000 + b"\r\n\r\n"
    # libmicrohttpd answers 431, or closes when the header's line is cut.
    reply = server.raw(over)
    check(reply == b"" or reply.startswith(b"HTTP/1.1 431"), "a 10 KB header is refused")
    big = b"GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * 20000 + b"\r\n\r\n"
    reply = server.raw(big)
    check(not reply.startswith(b"HTTP/1.1 200"), "a 20 KB header is refused: %r" % reply[:40])
    long_line = b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\nHost: x\r\n\r\n"
    check(not server.raw(long_line).startswith(b"HTTP/1.1 2"), "a 20 KB request line is refused")
    idle = []
    for _ in range(200):
        s = socket.create_connection(("127.0.0.1", server.port), timeout=5)
        s.sendall(b"GET / HTTP/1.1\r\n")  # and never more
        idle.append(s)
    started = time.monotonic()
    check(server.get("/healthz")[0] == 200, "answered beside 200 idle connections")
    check(time.monotonic() - started < 2, "answered at once beside 200 idle connections")
    for s in idle:
        s.close()


def load_loop(server, until, results, path):
    conn = server.connection()
    while time.monotonic() < until:
        try:
            status = server.get(path, conn=conn)[0]
            results.append(status)
        except (OSError, http.client.HTTPException) as error:
            results.append(repr(error))
            conn.close()
            conn = server.connection()
    conn.close()


def check_reload(server, names, ids):
    results = []
    until = time.monotonic() + 3
    path = "/api/path?from=%s&to=%s" % (ids[0], ids[1])
    threads = [threading.Thread(target=load_loop, args=(server, until, results, path))
               for _ in range(6)]
    for t in threads:
        t.start()
    for _ in range(4):
        time.sleep(0.5)
        server.proc.send_signal(signal.SIGHUP)
    for t in threads:
        t.join()
    bad = [r for r in results if r != 200]
    check(len(results) > 100 and not bad,
          "reloads under load: %d requests, failed: %s" % (len(results), bad[:5]))
    # A reload that fails keeps the files in use.
    shutil.copy(names, names + ".good")
    with open(names, "w") as f:
        f.write("not a names file\n")
    server.proc.send_signal(signal.SIGHUP)
    time.sleep(0.5)
    check(server.get("/api/search?q=person+2")[0] == 200, "serving after a failed reload")
    os.replace(names + ".good", names)


def check_stop(server, ids):
    results = []
    until = time.monotonic() + 2
    path = "/api/path?from=%s&to=%s&k=1000&n=1000" % (ids[0], ids[1])
    threads = [threading.Thread(target=load_loop, args=(server, until, results, path))
               for _ in range(4)]
    for t in threads:
        t.start()
    time.sleep(0.5)
    server.proc.send_signal(signal.SIGTERM)
    try:
        status = server.proc.wait(timeout=8)
    except subprocess.TimeoutExpired:
        server.proc.kill()
        status = "still running"
    for t in threads:
        t.join()
    check(status == 0, "SIGTERM during requests: exit %s" % status)
    check(results.count(200) > 0, "requests were answered before the stop")


def check_command_line(keys):
    cases = [  # arguments, status, standard output part, standard error part
        (["--help"], 0, b"Usage: korvalinde-serve", b""),
        (["--version"], 0, b"korvalinde-serve ", b""),
        (["-x"], 2, b"", b"korvalinde-serve: unknown option '-x'\nTry 'korvalinde-serve --help'.\n"),
        (["--quiet=1"], 2, b"", b"option '--quiet' takes no value"),
        (["-j"], 2, b"", b"option '-j' needs a value"),
        (["-j", "0"], 2, b"", b"invalid value '0' for -j"),
        (["-l", "localhost:80"], 2, b"", b"invalid value 'localhost:80' for -l"),
        (["-i", keys + ".missing"], 1, b"", b"korvalinde-serve: '%s.missing': No such file"
         % keys.encode()),
        (["-i", keys, "-N", keys], 1, b"", b"expected 16 hex digits and a tab"),
    ]
    for args, status, out, err in cases:
        run = subprocess.run([SERVE] + args, capture_output=True, timeout=30)
        check(run.returncode == status and out in run.stdout and err in run.stderr,
              "%s: %d %r %r" % (args, run.returncode, run.stdout[:80], run.stderr[:200]))


def main():
    work = tempfile.mkdtemp(prefix="serve-blackbox.")
    server = None
    try:
        keys = os.path.join(work, "sample.keys")
        shutil.copy(SAMPLE, keys)
        ids = key_ids(keys)
        names = os.path.join(work, "names")
        write_names(names, ids)
        reports = os.path.join(work, "output")
        subprocess.run([KORVALINDE, "-o", reports, keys], check=True, capture_output=True)
        subprocess.run([HTML, "-N", names, reports], check=True, capture_output=True)
        check_command_line(keys)
        server = Server(work, keys, names, reports)
        check_paths(server, keys, names, ids)
        check_endpoints(server, ids)
        check_reports(server, reports, work)
        check_limits(server)
        check_reload(server, names, ids)
        check_stop(server, ids)
        with open(os.path.join(work, "serve.log"), "rb") as f:
            log = f.read()
        check(b"reload failed" in log and b"not a names file" not in log or b"names:1:" in log,
              "the failed reload is logged with its reason")
        check(re.search(rb'127\.0\.0\.1 - - \[[^]]+\] "GET /healthz HTTP/1\.1" 200 \d+\n', log)
              is not None, "common log format lines")
    finally:
        if server is not None and server.proc.poll() is None:
            server.proc.kill()
            server.proc.wait()
        shutil.rmtree(work, ignore_errors=True)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
