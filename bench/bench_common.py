"""Helpers the Python halves of the bench scripts share."""
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
