#!/usr/bin/python3
# Sixteen clients of the hand-over socket that start a request and never end its line.
# Usage: idle-clients.py SOCKET; prints "ready", then holds them until killed.
import socket
import sys
import time

held = []
for _ in range(16):
    s = socket.socket(socket.AF_UNIX)
    s.connect(sys.argv[1])
    s.sendall(b"et")
    held.append(s)
print("ready", flush=True)
time.sleep(600)
