"""Each misbehaviour flag does what it says, and nothing else."""

import os
import time
import unittest

from catalogue import KEYS
from service_harness import (ACK, HANDSHAKE, REQUEST_PIPE, SEND_ONLY_PIPE, Service, read_reply,
                             read_request, receive_record, write_request)

VERSION_READ = read_request(KEYS[0])
VERSION_REPLY = read_reply("3.1.0")
TILT_WRITE = write_request(KEYS[72], "7")
BATTERY = KEYS[70]


class Replies(unittest.TestCase):
    def exchanges(self, *flags, requests=(HANDSHAKE, VERSION_READ, TILT_WRITE)):
        """The raw replies of the service run with `flags`."""
        with Service(*flags) as service:
            client = service.client()
            replies = []
            for request in requests:
                client.send(request)
                replies.append(client.reply().data)
            client.close()
        return replies

    def test_bad_replies(self):
        cases = [
            ("empty", ["", "", ""]),
            ("no-val-mark", [ACK, '{"val":"3.1.0"}', ACK]),
            ("ack-0", [ACK, VERSION_REPLY, '{"Ack":"0"}']),
            ("handshake-ack-0", ['{"Ack":"0"}', VERSION_REPLY, ACK]),
            ("handshake-cut", ['{"Ack"', VERSION_REPLY, ACK]),
            ("handshake-extra", ['{"Ack":"1","x":"y"}', VERSION_REPLY, ACK]),
            ("handshake-ack-2", ['{"Ack":"2"}', VERSION_REPLY, ACK]),
            ("handshake-ack-10", ['{"Ack":"10"}', VERSION_REPLY, ACK]),
        ]
        for kind, expected in cases:
            with self.subTest(kind):
                replies = self.exchanges("--bad-reply", kind)
                self.assertEqual(replies, [text.encode("utf-16-le") for text in expected])

    def test_only_request_picks_one_reply(self):
        replies = self.exchanges("--bad-reply", "empty", "--only-request", "2")
        self.assertEqual(replies, [ACK.encode("utf-16-le"), b"", ACK.encode("utf-16-le")])

    def test_bad_write_reply_still_stores(self):
        with Service("--bad-reply", "ack-0") as service:
            client = service.client()
            self.assertEqual(client.exchange(TILT_WRITE), '{"Ack":"0"}')
            self.assertEqual(client.read(KEYS[72]), "7")
            client.close()

    def test_long_replies(self):
        units = 1500
        replies = self.exchanges("--long-reply", str(units))
        texts = [data.decode("utf-16-le") for data in replies]
        self.assertEqual([len(text) for text in texts], [units] * 3)
        # Read replies carry the padding ahead of the mark, others after.
        self.assertEqual(texts[0], ACK + "x" * (units - len(ACK)))
        self.assertEqual(texts[1], "x" * (units - len(VERSION_REPLY)) + VERSION_REPLY)
        self.assertEqual(texts[2], ACK + "x" * (units - len(ACK)))

    def test_odd_bytes(self):
        replies = self.exchanges("--odd-bytes")
        for data, text in zip(replies, [ACK, VERSION_REPLY, ACK]):
            self.assertEqual(len(data) % 2, 1)
            self.assertEqual(data[:-1], text.encode("utf-16-le"))

    def test_delayed_replies(self):
        delay = 0.4
        with Service("--delay-reply-ms", str(int(delay * 1000))) as service:
            client = service.client()
            start = time.monotonic()
            self.assertEqual(client.handshake(), ACK)
            self.assertGreaterEqual(time.monotonic() - start, delay)
            # Requests written together are answered in order, each late.
            start = time.monotonic()
            client.send(VERSION_READ)
            client.send(TILT_WRITE)
            self.assertEqual([client.reply().text, client.reply().text], [VERSION_REPLY, ACK])
            self.assertGreaterEqual(time.monotonic() - start, 2 * delay)
            client.close()

    def test_only_the_nth_reply_is_delayed(self):
        delay = 0.6
        with Service("--delay-reply-ms", str(int(delay * 1000)), "--only-request", "3") as service:
            client = service.client()
            times = []
            for request in (HANDSHAKE, VERSION_READ, TILT_WRITE, VERSION_READ):
                start = time.monotonic()
                client.exchange(request)
                times.append(time.monotonic() - start)
            client.close()
        self.assertGreaterEqual(times[2], delay)
        self.assertEqual([t < delay for t in times], [True, True, False, True])


class Pushes(unittest.TestCase):
    def test_long_pushes(self):
        units = 3000
        with Service("--long-push", str(units), "--stdin-control", stdin=True) as service:
            client = service.client()
            client.handshake()
            service.command("set " + KEYS[72] + " 7")
            push = client.push().text
            self.assertEqual(len(push), units)
            self.assertEqual(push, write_request(KEYS[72], "7" + "x" * (units - len(TILT_WRITE))))
            client.close()

    def test_push_train(self):
        count = 6
        with Service("--push-rate", "50", "--push-count", str(count)) as service:
            client = service.client()
            # Nothing before the first handshake.
            self.assertTrue(client.no_push(0.2))
            start = time.monotonic()
            client.handshake()
            pushes = [client.push().text for _ in range(count)]
            elapsed = time.monotonic() - start
            self.assertTrue(client.no_push(0.3))
            self.assertEqual(client.read(BATTERY), "79")
            client.close()
        self.assertEqual(pushes, [write_request(BATTERY, str(85 - n)) for n in range(1, count + 1)])
        self.assertGreaterEqual(elapsed, (count - 1) / 50)

    def test_battery_starts_again_after_empty(self):
        with Service("--push-rate", "100", "--push-count", "3", "--stdin-control", stdin=True) as service:
            client = service.client()
            client.read(BATTERY)  # the service holds both connections now
            service.command("set " + BATTERY + " 1")
            self.assertEqual(client.push().text, write_request(BATTERY, "1"))
            client.handshake()
            self.assertEqual([client.push().text for _ in range(3)],
                             [write_request(BATTERY, value) for value in ("0", "100", "99")])
            client.close()


class Connections(unittest.TestCase):
    def test_close_after(self):
        with Service("--close-after", "2") as service:
            for _ in range(2):
                client = service.client()
                self.assertEqual(client.handshake(), ACK)
                self.assertEqual(client.exchange(VERSION_READ), VERSION_REPLY)
                # The request pipe ends; the send-only pipe stays open.
                self.assertIsNone(receive_record(client.pipe))
                self.assertTrue(client.no_push())
                client.close()

    def test_close_at_once(self):
        with Service("--close-after", "0") as service:
            client = service.client()
            self.assertIsNone(receive_record(client.pipe))
            client.close()

    def test_die_in_handshake(self):
        for reads in (0, 3):
            with self.subTest(reads=reads), Service("--die-in-handshake", str(reads)) as service:
                paths = [service.path(REQUEST_PIPE), service.path(SEND_ONLY_PIPE)]
                client = service.client()
                self.assertEqual(client.handshake(), ACK)
                for _ in range(reads):
                    self.assertEqual(client.exchange(VERSION_READ), VERSION_REPLY)
                self.assertEqual(service.wait(), 0)
                self.assertEqual([os.path.exists(path) for path in paths], [False, False])
                self.assertIsNone(receive_record(client.push_pipe))
                client.close()

    def test_writes_end_the_handshake_count(self):
        with Service("--die-in-handshake", "2") as service:
            client = service.client()
            client.handshake()
            client.exchange(VERSION_READ)
            client.exchange(TILT_WRITE)
            for _ in range(3):
                self.assertEqual(client.exchange(VERSION_READ), VERSION_REPLY)
            self.assertIsNone(service.process.poll())
            client.close()


class Arguments(unittest.TestCase):
    def test_bad_arguments_are_refused(self):
        for args in (["--bad-reply", "rude"], ["--push-count", "3"], ["--session", "12a"], ["--only-request", "0"],
                     ["--no-such-flag"]):
            with self.subTest(args=args):
                service = Service(*args, expect_ready=False)
                self.assertEqual(service.wait(), 2)
                service.stop()

    def test_help_names_every_flag(self):
        service = Service("--help", expect_ready=False)
        self.assertEqual(service.wait(), 0)
        text = service.process.stdout.read()
        service.stop()
        for flag in ("--delay-reply-ms", "--bad-reply", "--long-reply", "--long-push", "--close-after",
                     "--push-rate", "--push-count", "--die-in-handshake", "--odd-bytes", "--only-request",
                     "--session", "--values", "--script", "--stdin-control", "handshake-extra", "wait-handshake"):
            self.assertIn(flag, text)


if __name__ == "__main__":
    unittest.main()
