"""Helpers the Python halves of the bench scripts share."""
import re
import socket
import statistics


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
