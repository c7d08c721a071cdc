"""Helpers the Python halves of the bench scripts share."""
import os
import re
import socket
import statistics
import struct
import subprocess


def free_port():
    """A TCP port on 127.0.0.1 that nothing listens on now."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def spread(values, fmt):
    """The median and, for several values, the range: "1.2 (1.1-1.4)"."""
    values = sorted(values)
    if len(values) == 1:
        return fmt.format(values[0])
    return f"{fmt.format(statistics.median(values))} ({fmt.format(values[0])}-{fmt.format(values[-1])})"


def listen_on_loopback(folder, port):
    """Points an mlserve installation's config.xml at 127.0.0.1:port."""
    config = f"{folder}/config.xml"
    with open(config) as f:
        text = f.read()
    text = re.sub(r'(<listen[^>]*?) port="\d*"', rf'\1 port="{port}"', text)
    text = re.sub(r'(<listen[^>]*?) ip="[^"]*"', r'\1 ip="127.0.0.1"', text)
    with open(config, "w") as f:
        f.write(text)


def prober_start(program):
    """A stream prober started as the scan starts one (a socket pair as its
    descriptor 3): (our end of the channel, the process)."""
    ours, theirs = socket.socketpair()
    child = subprocess.Popen([program], pass_fds=(theirs.fileno(), 3),
                             preexec_fn=lambda: os.dup2(theirs.fileno(), 3))
    theirs.close()
    return ours, child


def prober_request(channel, path):
    """Sends path as one frame (a 4-byte little-endian length, then the bytes)
    and reads the prober's reply frame."""
    data = path.encode()
    channel.sendall(struct.pack("<I", len(data)) + data)
    head = b""
    while len(head) < 4:
        got = channel.recv(4 - len(head))
        if not got:
            raise EOFError("the prober closed its channel")
        head += got
    left = struct.unpack("<I", head)[0]
    while left > 0:
        got = channel.recv(left)
        if not got:
            raise EOFError("the prober closed its channel")
        left -= len(got)
