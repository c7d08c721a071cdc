"""The host side of the tests across a namespace pair (netns.sh): the pair and
a scratch folder for one test, and mlserve run in the first namespace while a
client runs in the second."""
import contextlib
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SKIPPED = 77


@contextlib.contextmanager
def namespace_pair(prefix):
    """Yields (tag, scratch folder); both namespaces and the folder go afterwards.
    Exits 77 (skipped) when this machine makes no namespaces."""
    tag = str(os.getpid())
    netns = [os.path.join(HERE, "netns.sh")]
    up = subprocess.run(netns + ["up", tag], capture_output=True, text=True)
    if up.returncode != 0:
        print("SKIPPED: " + up.stderr.strip())
        sys.exit(SKIPPED if up.returncode == SKIPPED else 1)
    top = tempfile.mkdtemp(prefix=prefix)
    try:
        yield tag, top
    finally:
        subprocess.run(netns + ["down", tag])
        shutil.rmtree(top, ignore_errors=True)


def serve_and_run(tag, top, mlserve, library, client, timeout):
    """Runs mlserve from library in ml<tag>a and the client command in ml<tag>b;
    returns the client's exit status, printing mlserve's output when it failed."""
    log = open(os.path.join(top, "mlserve.log"), "w")
    server = subprocess.Popen(["ip", "netns", "exec", "ml%sa" % tag, mlserve], cwd=library,
                              stdout=log, stderr=subprocess.STDOUT)
    try:
        status = subprocess.run(["ip", "netns", "exec", "ml%sb" % tag] + client, timeout=timeout).returncode
        if status != 0:
            with open(log.name) as text:
                print("mlserve's output:\n" + text.read())
        return status
    finally:
        server.terminate()
        try:
            server.wait(timeout=20)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
