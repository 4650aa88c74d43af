"""A raw client of the settings service and a way to run the service.

The client speaks the POSIX form of the pipes directly: AF_UNIX
SOCK_SEQPACKET sockets in /tmp/pevra-<uid>/, one UTF-16LE message per
record. The service runs in a session of its own (setsid), so its pipe
names carry its own process id and no two tests share a pipe.
"""

import os
import select
import signal
import socket
import subprocess
import tempfile
import time
import unittest

SERVICE = os.environ.get("SETTINGS_SERVICE", "")
TIMEOUT = 5.0
BIG = 16 * 1024 * 1024

REQUEST_PIPE = "PevraSettingsSyncher_"
SEND_ONLY_PIPE = "PevraSettingsSyncherSendOnly_"

HANDSHAKE = '{"Connected":"?"}'
ACK = '{"Ack":"1"}'


def read_request(key):
    return '{"GetVal":"' + key + '"}'


def write_request(key, value):
    return '{"' + key + '":"' + value + '"}'


def read_reply(value):
    return '{"Val":"' + value + '"}'


def socket_dir(uid=None):
    return "/tmp/pevra-%d" % (os.getuid() if uid is None else uid)


def pipe_path(name, session, uid=None):
    return os.path.join(socket_dir(uid), name + str(session))


class Record:
    """One received message: its bytes and its text."""

    def __init__(self, data):
        self.data = data
        self.text = data[: len(data) // 2 * 2].decode("utf-16-le", "surrogatepass")


def receive_record(sock, timeout=TIMEOUT):
    """The next whole record; None when the peer has closed."""
    ready, _, _ = select.select([sock], [], [], timeout)
    if not ready:
        raise TimeoutError("no message within %.1f s" % timeout)
    try:
        data, _, flags, _ = sock.recvmsg(BIG)
    except ConnectionResetError:  # closed with our request unread
        return None
    if flags & socket.MSG_TRUNC:
        raise AssertionError("a record longer than %d bytes" % BIG)
    if not data and peer_closed(sock):
        return None
    return Record(data)


def peer_closed(sock):
    poller = select.poll()
    poller.register(sock, select.POLLRDHUP | select.POLLHUP)
    return any(event & (select.POLLRDHUP | select.POLLHUP) for _, event in poller.poll(0))


def connect(path):
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    # Room for long requests; the system caps what it grants.
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 * 1024 * 1024)
    sock.connect(path)
    return sock


class Client:
    """Both pipes of one client: pushes on `push_pipe`, requests on `pipe`."""

    def __init__(self, session, push_pipe=None, pipe=None, uid=None):
        self.push_pipe = push_pipe or connect(pipe_path(SEND_ONLY_PIPE, session, uid))
        self.pipe = pipe or connect(pipe_path(REQUEST_PIPE, session, uid))

    @classmethod
    def in_other_process(cls, session):
        """A client whose sockets a child process connected, so the service
        sees another process id; the child hands the sockets over and ends."""
        parent_end, child_end = socket.socketpair(socket.AF_UNIX, socket.SOCK_DGRAM)
        pid = os.fork()
        if pid == 0:
            try:
                push_pipe = connect(pipe_path(SEND_ONLY_PIPE, session))
                pipe = connect(pipe_path(REQUEST_PIPE, session))
                socket.send_fds(child_end, [b"s"], [push_pipe.fileno(), pipe.fileno()])
            finally:
                os._exit(0)
        _, fds, _, _ = socket.recv_fds(parent_end, 1, 2)
        os.waitpid(pid, 0)
        parent_end.close()
        child_end.close()
        return cls(session, socket.socket(fileno=fds[0]), socket.socket(fileno=fds[1]))

    def send(self, text):
        self.pipe.sendall(text.encode("utf-16-le", "surrogatepass"))

    def exchange(self, text):
        """Writes one request and returns the text of its one reply."""
        self.send(text)
        return self.reply().text

    def reply(self, timeout=TIMEOUT):
        record = receive_record(self.pipe, timeout)
        if record is None:
            raise ConnectionError("the service closed the request pipe")
        return record

    def handshake(self):
        return self.exchange(HANDSHAKE)

    def read(self, key):
        """The value of a key, cut out of a well-formed read reply."""
        reply = self.exchange(read_request(key))
        if not (reply.startswith('{"Val":"') and reply.endswith('"}')):
            raise AssertionError("not a read reply: %r" % reply)
        return reply[len('{"Val":"') : -2]

    def push(self, timeout=TIMEOUT):
        record = receive_record(self.push_pipe, timeout)
        if record is None:
            raise ConnectionError("the service closed the send-only pipe")
        return record

    def no_push(self, wait=0.3):
        """True when nothing arrives on the send-only pipe for `wait` s."""
        ready, _, _ = select.select([self.push_pipe], [], [], wait)
        return not ready

    def close(self):
        self.pipe.close()
        self.push_pipe.close()


class Service:
    """The service in a session of its own; waits for its "ready" line."""

    def __init__(self, *args, stdin=False, user=None, expect_ready=True, session=None):
        if not SERVICE:
            raise unittest.SkipTest("SETTINGS_SERVICE is not set")
        command = [SERVICE, *args]
        # A file, not a pipe: the service never blocks on what it reports.
        self._stderr = tempfile.TemporaryFile(mode="w+")
        if session is not None:
            command += ["--session", str(session)]
        self.process = subprocess.Popen(
            command,
            stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=self._stderr,
            start_new_session=True,
            user=user,
            text=True,
        )
        # In its own session the service's session id is its process id.
        self.session = self.process.pid if session is None else session
        self.uid = os.getuid() if user is None else user
        if expect_ready:
            line = self._read_line()
            if line != "ready\n":
                self.process.kill()
                raise AssertionError("service said %r; stderr: %s" % (line, self.stderr()))

    def _read_line(self):
        ready, _, _ = select.select([self.process.stdout], [], [], TIMEOUT)
        return self.process.stdout.readline() if ready else ""

    def path(self, name):
        return pipe_path(name, self.session, self.uid)

    def client(self):
        return Client(self.session, uid=self.uid)

    def command(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def wait(self, timeout=TIMEOUT):
        """The exit status, after the process has ended on its own."""
        return self.process.wait(timeout)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(TIMEOUT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        for stream in (self.process.stdin, self.process.stdout):
            if stream:
                stream.close()
        if not self._stderr.closed:
            self._stderr_text = self.stderr()
            self._stderr.close()
        return self.process.returncode

    def stderr(self):
        """What the service wrote to standard error so far."""
        if self._stderr.closed:
            return self._stderr_text
        self._stderr.seek(0)
        return self._stderr.read()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def wait_until(predicate, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.01)
    return predicate()
