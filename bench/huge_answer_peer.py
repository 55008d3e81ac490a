#!/usr/bin/env python3
# A server for bench_share_answer: answers every request with 400 and a
# 100 MB body, sent as fast as the client reads it. Prints its port.
import socket
import sys
import threading

SIZE = 100 * 1024 * 1024


def serve(c):
    data = b''
    while b'\r\n\r\n' not in data:
        d = c.recv(65536)
        if not d:
            return
        data += d
    head = b'HTTP/1.1 400 Bad Request\r\nContent-Length: %d\r\nConnection: close\r\n\r\n' % SIZE
    chunk = b'y' * 65536
    try:
        c.sendall(head)
        for _ in range(SIZE // len(chunk)):
            c.sendall(chunk)
    except OSError:
        pass  # the client went away
    c.close()


s = socket.socket()
s.bind(('127.0.0.1', int(sys.argv[1]) if len(sys.argv) > 1 else 0))
s.listen(8)
print(s.getsockname()[1], flush=True)
while True:
    conn, _ = s.accept()
    threading.Thread(target=serve, args=(conn,), daemon=True).start()
