"""Requests, replies, stored values and pushes, over the real sockets."""

import os
import re
import signal
import socket
import tempfile
import unittest

from catalogue import BUTTON_BASES, KEYS, OPTION_LISTS
from service_harness import (ACK, HANDSHAKE, REQUEST_PIPE, SEND_ONLY_PIPE, Client, Service, connect,
                             read_reply, read_request, receive_record, write_request)

INTEGER = re.compile(r"^-?\d+$")


def option_pairs(value):
    """The pairs a client reads from an option list: the first search starts
    at position 1, and the character after each pair is skipped."""
    pairs, start = [], 1
    while True:
        brace = value.find('{"', start)
        if brace < 0:
            return pairs
        middle = value.find('":"', brace + 2)
        if middle < 0:
            return pairs
        end = value.find('"}', middle + 3)
        if end < 0:
            return pairs
        pairs.append((value[brace + 2 : middle], value[middle + 3 : end]))
        start = end + 3


class Protocol(unittest.TestCase):
    def setUp(self):
        self.service = Service()
        self.addCleanup(self.service.stop)
        self.client = self.service.client()
        self.addCleanup(self.client.close)

    def test_every_setting_has_a_default_of_its_form(self):
        values = {id: self.client.read(key) for id, key in KEYS.items()}
        self.assertEqual(values[0], "3.1.0")
        self.assertTrue(values[1])
        for id in (2, 3, 4, 5, 6):
            self.assertTrue(0 < len(values[id]) <= 15, (id, values[id]))
        # The current pen is the pen of the pairs, so a client files one pen.
        self.assertEqual(values[2], values[3])
        self.assertEqual(values[3], values[5])
        for id in [*BUTTON_BASES, 23, 28, 29, 70, 71, 72, 73]:
            self.assertRegex(values[id], INTEGER, id)
        for base in BUTTON_BASES:
            self.assertLessEqual(len(values[base + 1]), 511)
            self.assertLessEqual(len(values[base + 3]), 511)
            self.assertTrue(values[base + 2], "function name of %d" % base)
        numbers = [int(n) for n in values[81][1:-1].split(",")]
        self.assertEqual((values[81][0], values[81][-1], len(numbers)), ("{", "}", 4))
        for id in OPTION_LISTS:
            pairs = option_pairs(values[id])
            self.assertGreater(len(pairs), 1, id)
            # Every pair is read: none is skipped by the one-character gap.
            self.assertEqual(len(pairs), values[id].count('{"'), id)
            if id != 75:
                for code, name in pairs:
                    self.assertRegex(code, INTEGER, (id, code))
                    self.assertTrue(name)
        self.assertEqual(values[74], "")

    def test_buttons_offer_their_text(self):
        # A keystroke button (eraser single, code 8) and a run-application
        # button (eraser double, code 23) both answer on either text key.
        self.assertEqual(self.client.read(KEYS[7]), "8")
        self.assertEqual(self.client.read(KEYS[8]), self.client.read(KEYS[10]))
        self.assertEqual(self.client.read(KEYS[10]), "Ctrl+Z")
        self.assertEqual(self.client.read(KEYS[11]), "23")
        self.assertTrue(self.client.read(KEYS[14]).endswith("notepad.exe"))
        self.assertEqual(self.client.read(KEYS[12]), self.client.read(KEYS[14]))

    def test_text_follows_a_new_function_code(self):
        for request in (write_request(KEYS[19], "23"), write_request(KEYS[20], r"C:\Tools\a.exe"),
                        write_request(KEYS[22], "Alt+F4")):
            self.assertEqual(self.client.exchange(request), ACK)
        self.assertEqual(self.client.read(KEYS[22]), r"C:\Tools\a.exe")
        self.assertEqual(self.client.exchange(write_request(KEYS[19], "8")), ACK)
        self.assertEqual(self.client.read(KEYS[20]), "Alt+F4")

    def test_write_is_acknowledged_and_stored(self):
        cases = [
            (KEYS[72], "7"),
            (KEYS[81], "{1,-2,300,0}"),
            (KEYS[10], 'a "quoted" \\ text with : and }'),
            (KEYS[74], ""),
            ("Not\\\\A\\\\Setting", "kept"),
        ]
        for key, value in cases:
            with self.subTest(key=key):
                self.assertEqual(self.client.exchange(write_request(key, value)), ACK)
                self.assertEqual(self.client.exchange(read_request(key)), read_reply(value))

    def test_unknown_key_reads_empty(self):
        for key in ("Unknown", r"ComponentsDriver\ServiceVersion", ""):
            with self.subTest(key=key):
                self.assertEqual(self.client.exchange(read_request(key)), '{"Val":""}')

    def test_requests_of_no_known_form_are_refused(self):
        for request in ("", "{}", "hello", '{"Connected":"?"} ', '{"GetVal":"x"', '{"key"}'):
            with self.subTest(request=request):
                self.assertEqual(self.client.exchange(request), '{"Ack":"0"}')

    def test_replies_keep_request_order(self):
        requests = [HANDSHAKE, read_request(KEYS[0]), write_request(KEYS[72], "9"), read_request(KEYS[72])]
        for request in requests:
            self.client.send(request)
        replies = [self.client.reply().text for _ in requests]
        self.assertEqual(replies, [ACK, read_reply("3.1.0"), ACK, read_reply("9")])

    def test_write_is_pushed_to_other_clients_only(self):
        other = Client.in_other_process(self.service.session)
        self.addCleanup(other.close)
        self.assertEqual(other.handshake(), ACK)
        self.assertEqual(self.client.exchange(write_request(KEYS[73], "4")), ACK)
        self.assertEqual(other.push().text, write_request(KEYS[73], "4"))
        self.assertTrue(self.client.no_push())
        self.assertEqual(other.exchange(write_request(KEYS[81], "{5,6,7,8}")), ACK)
        self.assertEqual(self.client.push().text, write_request(KEYS[81], "{5,6,7,8}"))
        self.assertTrue(other.no_push())

    def test_long_messages_travel_in_one_record(self):
        other = Client.in_other_process(self.service.session)
        self.addCleanup(other.close)
        other.handshake()
        for length in (511, 513, 5000, 150000):
            value = "".join(chr(0x41 + i % 26) for i in range(length))
            with self.subTest(length=length):
                self.assertEqual(self.client.exchange(write_request(KEYS[75], value)), ACK)
                push = other.push()
                self.assertEqual(len(push.data), 2 * len(write_request(KEYS[75], value)))
                self.assertEqual(push.text, write_request(KEYS[75], value))
                self.assertEqual(self.client.read(KEYS[75]), value)

    def test_text_beyond_ascii_travels_as_utf16(self):
        value = "Stift \u00e9\u4e2d \U0001F58A"
        self.assertEqual(self.client.exchange(write_request(KEYS[10], value)), ACK)
        self.client.send(read_request(KEYS[10]))
        self.assertEqual(self.client.reply().data, read_reply(value).encode("utf-16-le"))

    def test_wait_probes_do_not_disturb(self):
        # A client's wait for the pipe connects to the send-only pipe and
        # closes at once; the service goes on serving.
        for _ in range(20):
            connect(self.service.path(SEND_ONLY_PIPE)).close()
        probe = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        probe.connect(self.service.path(REQUEST_PIPE))
        probe.close()
        self.assertEqual(self.client.handshake(), ACK)
        other = Client.in_other_process(self.service.session)
        self.addCleanup(other.close)
        other.handshake()
        self.client.exchange(write_request(KEYS[72], "3"))
        self.assertEqual(other.push().text, write_request(KEYS[72], "3"))

    def test_client_leaving_during_a_push_is_harmless(self):
        other = Client.in_other_process(self.service.session)
        other.handshake()
        other.close()
        self.assertEqual(self.client.exchange(write_request(KEYS[72], "2")), ACK)
        self.assertEqual(self.client.read(KEYS[72]), "2")


class Lifetime(unittest.TestCase):
    def test_signals_end_the_service_and_remove_its_pipes(self):
        for number in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=number):
                service = Service()
                paths = [service.path(REQUEST_PIPE), service.path(SEND_ONLY_PIPE)]
                client = service.client()
                client.handshake()
                service.process.send_signal(number)
                self.assertEqual(service.wait(), 0)
                self.assertEqual([os.path.exists(p) for p in paths], [False, False])
                self.assertIsNone(receive_record(client.push_pipe))
                client.close()
                service.stop()

    def test_second_service_of_a_session_is_refused(self):
        with Service() as first:
            second = Service(session=first.session, expect_ready=False)
            self.assertEqual(second.wait(), 1)
            self.assertIn("already serves", second.stderr())
            second.stop()
            client = first.client()
            self.assertEqual(client.handshake(), ACK)
            client.close()

    def test_left_over_socket_files_are_replaced(self):
        session = 4100000000 + os.getpid() % 100000
        with Service(session=session) as first:
            pass
        for name in (REQUEST_PIPE, SEND_ONLY_PIPE):
            stale = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
            stale.bind(first.path(name))
            stale.close()
        with Service(session=session) as second:
            client = second.client()
            self.assertEqual(client.handshake(), ACK)
            client.close()


class ValuesFile(unittest.TestCase):
    def values_file(self, text):
        handle = tempfile.NamedTemporaryFile("w", suffix=".json", delete=False)
        handle.write(text)
        handle.close()
        self.addCleanup(os.unlink, handle.name)
        return handle.name

    def test_values_shape_the_device(self):
        # One backslash or two between components; a new key is served too.
        path = self.values_file(r'''{
            "ComponentsDriver\\ServiceVersion": "9.9.9",
            "ComponentsDriver\\\\HIDRouterVersion": "1.0",
            "RunAppOptionsList": "[{\"C:\\\\x.exe\":\"X\"}]",
            "Extra\\Key": "e"
        }''')
        with Service("--values", path) as service:
            client = service.client()
            self.assertEqual(client.read(KEYS[0]), "9.9.9")
            self.assertEqual(client.read(KEYS[1]), "1.0")
            self.assertEqual(client.read(KEYS[75]), r'[{"C:\\x.exe":"X"}]')
            self.assertEqual(client.read(r"Extra\\Key"), "e")
            self.assertEqual(client.read(KEYS[72]), "5")
            client.close()
            self.assertIn(r'"Extra\\Key" is not one of the built-in settings', service.stderr())

    def test_bad_values_files_are_refused(self):
        for text in ("{", "[]", '{"a": 1}', '{"a": null}'):
            with self.subTest(text=text):
                service = Service("--values", self.values_file(text), expect_ready=False)
                self.assertEqual(service.wait(), 2)
                service.stop()


if __name__ == "__main__":
    unittest.main()
