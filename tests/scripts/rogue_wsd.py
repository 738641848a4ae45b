#!/usr/bin/env python3
"""A hostile WS-Discovery responder for the tests, run inside the WS-Discovery test network.

Usage: rogue_wsd.py HIJACK_ADDR FLOOD_ADDR FLOOD_COUNT STATE_FILE

Every Probe it hears gets, from HIJACK_ADDR, answers for two computers whose names belong to
others: "localhost" (the hosts file resolves it) and "10.213.0.11" (a numeric address, another
host's); and, from FLOOD_ADDR, FLOOD_COUNT ProbeMatches of made-up computers. Metadata is served
on port 5357 of both addresses. Port 445 and 139 of HIJACK_ADDR count every connection: a
program that followed the hijacking announcements would connect there.

STATE_FILE gets "probes=N floods=M hijack_connections=K" after every event; "ready" is printed on
stdout once everything listens. Ends on SIGTERM.
"""
import os
import select
import signal
import socket
import struct
import sys
import threading
import uuid

hijack_addr, flood_addr, flood_count, state_file = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
GROUP, PORT = "239.255.255.250", 3702
WORKGROUP = "EVIL"
HIJACK = {"rogue-localhost": "localhost", "rogue-numeric": "10.213.0.11"}

state = {"probes": 0, "floods": 0, "hijack_connections": 0}
lock = threading.Lock()


def save():
    with lock:
        text = " ".join("%s=%d" % kv for kv in state.items())
    tmp = state_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(text + "\n")
    os.replace(tmp, state_file)


def bump(key, n=1):
    with lock:
        state[key] += n
    save()


ENVELOPE = (
    '<?xml version="1.0" encoding="utf-8"?>'
    '<soap:Envelope xmlns:soap="http://www.w3.org/2003/05/soap-envelope" '
    'xmlns:wsa="http://schemas.xmlsoap.org/ws/2004/08/addressing" '
    'xmlns:wsd="http://schemas.xmlsoap.org/ws/2005/04/discovery" '
    'xmlns:wsdp="http://schemas.xmlsoap.org/ws/2006/02/devprof">'
    "<soap:Header><wsa:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</wsa:To>"
    "<wsa:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</wsa:Action>"
    "<wsa:MessageID>urn:uuid:%s</wsa:MessageID><wsa:RelatesTo>%s</wsa:RelatesTo></soap:Header>"
    "<soap:Body><wsd:ProbeMatches><wsd:ProbeMatch><wsa:EndpointReference>"
    "<wsa:Address>urn:uuid:%s</wsa:Address></wsa:EndpointReference>"
    "<wsd:Types>wsdp:Device</wsd:Types><wsd:XAddrs>http://%s:5357/%s</wsd:XAddrs>"
    "<wsd:MetadataVersion>1</wsd:MetadataVersion></wsd:ProbeMatch></wsd:ProbeMatches>"
    "</soap:Body></soap:Envelope>"
)


def probe_match(relates_to, endpoint, addr, path):
    return (ENVELOPE % (uuid.uuid4(), relates_to, endpoint, addr, path)).encode()


def metadata(name):
    body = (
        '<?xml version="1.0" encoding="utf-8"?>'
        '<soap:Envelope xmlns:soap="http://www.w3.org/2003/05/soap-envelope" '
        'xmlns:pub="http://schemas.microsoft.com/windows/pub/2005/07">'
        "<soap:Body><pub:Computer>%s/Workgroup:%s</pub:Computer></soap:Body></soap:Envelope>"
        % (name, WORKGROUP)
    ).encode()
    head = (
        "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml\r\n"
        "Content-Length: %d\r\nConnection: close\r\n\r\n" % len(body)
    ).encode()
    return head + body


def serve_metadata(sock):
    while True:
        conn, _ = sock.accept()
        try:
            conn.settimeout(2)
            data = b""
            while b"\r\n\r\n" not in data and len(data) < 65536:
                chunk = conn.recv(4096)
                if not chunk:
                    break
                data += chunk
            path = data.split(b" ", 2)[1].decode(errors="replace").lstrip("/") if b" " in data else ""
            name = HIJACK.get(path) or ("FLOOD%s" % path.rsplit("-", 1)[-1])
            conn.sendall(metadata(name))
        except OSError:
            pass
        finally:
            conn.close()


def count_connections(sock):
    while True:
        conn, _ = sock.accept()
        conn.close()
        bump("hijack_connections")


def listener(addr, port):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((addr, port))
    s.listen(64)
    return s


def main():
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    for addr in (hijack_addr, flood_addr):
        threading.Thread(target=serve_metadata, args=(listener(addr, 5357),), daemon=True).start()
    for port in (445, 139):
        threading.Thread(target=count_connections, args=(listener(hijack_addr, port),), daemon=True).start()

    rx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    rx.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if hasattr(socket, "SO_REUSEPORT"):
        rx.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
    rx.bind(("", PORT))
    rx.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                  struct.pack("4s4s", socket.inet_aton(GROUP), socket.inet_aton("127.0.0.1")))
    hijack_tx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    hijack_tx.bind((hijack_addr, 0))
    flood_tx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    flood_tx.bind((flood_addr, 0))
    # The flood goes out on a thread of its own: the hijacking answers to a Probe leave at
    # once, however long the flood of an earlier one takes.
    floods = []
    wake = threading.Condition()

    def flood():
        while True:
            with wake:
                while not floods:
                    wake.wait()
                relates_to, sender = floods.pop(0)
            template = (ENVELOPE % ("00000000-0000-4000-8000-%012d",
                                    relates_to.replace("%", "%%"), "flood-%d", flood_addr,
                                    "flood-%d")).encode()
            sent = 0
            for i in range(flood_count):
                try:
                    flood_tx.sendto(template % (i, i, i), sender)
                    sent += 1
                except OSError:
                    pass
            bump("floods", sent)

    threading.Thread(target=flood, daemon=True).start()
    save()
    print("ready", flush=True)
    while True:
        select.select([rx], [], [])
        data, sender = rx.recvfrom(65536)
        if b"/discovery/Probe<" not in data:
            continue
        start = data.find(b"MessageID>") + len("MessageID>")
        relates_to = data[start:data.find(b"<", start)].decode(errors="replace")
        bump("probes")
        for path in HIJACK:
            hijack_tx.sendto(probe_match(relates_to, path, hijack_addr, path), sender)
        with wake:
            floods.append((relates_to, sender))
            wake.notify()


if __name__ == "__main__":
    main()
