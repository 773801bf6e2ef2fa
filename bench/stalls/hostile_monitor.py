#!/usr/bin/env python3
# A reporting process that answers every heartbeat of the box with one huge reply (MG_REPLY_KEYS keys,
# 4.8 million by default: 62 MB) and every other report with the usual short one. Put in the box's
# cnt_net/ as pynet_monitor by bench/box_stalls.sh; the box starts it itself.
import os
import sys
import socket
import threading

KEYS = int(os.environ.get("MG_REPLY_KEYS", "4800000"))
# Made once, beside the box's configuration, and read at every start: the box restarts its reporting
# process while the link is dead, and making the reply anew takes longer than its watchdog waits.
CACHE = "cnt_net/bigreply.json"
if not os.path.exists(CACHE):
    with open(CACHE + ".tmp", "wb") as f:
        f.write(b'{"code":0,"msg":"OK","result":{"cntserver":true,' +
                b",".join(b'"k%07d":0' % i for i in range(KEYS)) + b"}}")
    os.rename(CACHE + ".tmp", CACHE)
if sys.argv[1:] == ["--make-reply"]:
    raise SystemExit(0)
with open(CACHE, "rb") as f:
    big = f.read()
small = b'{"code":0,"msg":"OK","result":{"cntserver":true}}'


def reply(conn, uid, body):
    conn.sendall(b"HTTP/1.1 200 OK\r\nUser-Agent: " + uid + b"\r\nContent-Type: application/json\r\n"
                 b"Content-Length: " + str(len(body)).encode() + b"\r\n\r\n" + body)


def serve(conn):
    buf = b""
    while True:
        while b"\r\n\r\n" not in buf:
            data = conn.recv(65536)
            if not data:
                return
            buf += data
        head, buf = buf.split(b"\r\n\r\n", 1)
        fields = {}
        lines = head.split(b"\r\n")
        for line in lines[1:]:
            if b":" in line:
                k, v = line.split(b":", 1)
                fields[k.strip().lower()] = v.strip()
        length = int(fields.get(b"content-length", b"0"))
        while len(buf) < length:
            data = conn.recv(65536)
            if not data:
                return
            buf += data
        buf = buf[length:]
        uid = fields.get(b"user-agent", b"").replace(b" ", b"")
        reply(conn, uid, big if b"/heartbeat" in lines[0] else small)


server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
try:
    server.bind(("127.0.0.1", 10431))
except OSError:
    raise SystemExit(0)
server.listen(4)
while True:
    c, _ = server.accept()
    threading.Thread(target=serve, args=(c,), daemon=True).start()
