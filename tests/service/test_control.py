"""The control channel (standard input and scripts) and key capture."""

import os
import tempfile
import unittest

from catalogue import KEYS
from service_harness import ACK, Client, Service, read_reply, wait_until, write_request

CAPTURE_SWITCH = r"ComponentsDriver\\BTButtonHandler\\KeystrokeCapture"
CAPTURED = KEYS[74]


class StdinControl(unittest.TestCase):
    def setUp(self):
        self.service = Service("--stdin-control", stdin=True)
        self.addCleanup(self.service.stop)
        self.client = self.service.client()
        self.addCleanup(self.client.close)
        self.assertEqual(self.client.handshake(), ACK)

    def test_set_stores_and_pushes_to_every_client(self):
        self.service.command(r"set ComponentsDriver\PenHandler\PenTransducer\TiltSensitivity 11")
        self.assertEqual(self.client.push().text, write_request(KEYS[72], "11"))
        self.assertEqual(self.client.read(KEYS[72]), "11")

    def test_push_does_not_store(self):
        self.service.command("push " + KEYS[0] + " 4.0 beta")
        self.assertEqual(self.client.push().text, write_request(KEYS[0], "4.0 beta"))
        self.assertEqual(self.client.read(KEYS[0]), "3.1.0")

    def test_raw_pushes_the_exact_text(self):
        for text in ['{"broken', "", "no colon at all", "{" + KEYS[72].replace("\\\\", "\\") + '":"7"}']:
            with self.subTest(text=text):
                self.service.command("raw " + text)
                self.assertEqual(self.client.push().data, text.encode("utf-16-le"))

    def test_values_may_be_empty_and_hold_spaces(self):
        self.service.command("set " + KEYS[10] + " ")
        self.assertEqual(self.client.push().text, write_request(KEYS[10], ""))
        self.service.command("set " + KEYS[10] + "  Ctrl + Alt ")
        self.assertEqual(self.client.push().text, write_request(KEYS[10], " Ctrl + Alt "))

    def test_bad_lines_are_reported_and_skipped(self):
        for line in ("frobnicate", "set", "sleep x", "# a comment", ""):
            self.service.command(line)
        self.service.command("set " + KEYS[72] + " 1")
        self.assertEqual(self.client.push().text, write_request(KEYS[72], "1"))
        self.assertTrue(wait_until(lambda: self.service.stderr().count("stdin:") == 3), self.service.stderr())

    def test_quit_ends_the_service(self):
        self.service.command("quit")
        self.assertEqual(self.service.wait(), 0)

    def test_end_of_input_ends_the_service(self):
        self.service.process.stdin.close()
        self.assertEqual(self.service.wait(), 0)

    def test_key_capture(self):
        other = Client.in_other_process(self.service.session)
        self.addCleanup(other.close)
        self.assertEqual(other.handshake(), ACK)

        # Not recording: keystrokes are dropped.
        self.service.command("key x")
        self.assertTrue(self.client.no_push())

        # Start: the switch goes to the other client, the emptied capture to both.
        self.assertEqual(self.client.exchange(write_request(CAPTURE_SWITCH, "1")), ACK)
        self.assertEqual(other.push().text, write_request(CAPTURE_SWITCH, "1"))
        for client in (self.client, other):
            self.assertEqual(client.push().text, write_request(CAPTURED, ""))

        self.service.command("key Ctrl+C")
        self.service.command("key  Shift+A")
        for client in (self.client, other):
            self.assertEqual(client.push().text, write_request(CAPTURED, "Ctrl+C"))
            self.assertEqual(client.push().text, write_request(CAPTURED, "Ctrl+C Shift+A"))
        self.assertEqual(self.client.read(CAPTURED), "Ctrl+C Shift+A")
        self.assertEqual(self.client.read(CAPTURE_SWITCH), "1")

        # Stop: the text stays readable; later keystrokes are dropped.
        self.assertEqual(self.client.exchange(write_request(CAPTURE_SWITCH, "0")), ACK)
        self.service.command("key z")
        self.assertTrue(self.client.no_push())
        self.assertEqual(self.client.read(CAPTURED), "Ctrl+C Shift+A")

        # A new start empties it again.
        self.assertEqual(self.client.exchange(write_request(CAPTURE_SWITCH, "1")), ACK)
        self.assertEqual(self.client.push().text, write_request(CAPTURED, ""))
        self.assertEqual(self.client.read(CAPTURED), "")


class Script(unittest.TestCase):
    def test_script_waits_for_a_handshake(self):
        script = tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False)
        script.write("wait-handshake\n"
                     "set " + CAPTURE_SWITCH + " 1\n"
                     "key a\n"
                     "sleep 50\n"
                     "key b\n"
                     "wait-handshake 2\n"
                     "quit\n")
        script.close()
        self.addCleanup(os.unlink, script.name)
        with Service("--script", script.name) as service:
            client = service.client()
            self.assertTrue(client.no_push(0.2))
            self.assertEqual(client.handshake(), ACK)
            pushes = [client.push().text for _ in range(4)]
            self.assertEqual(pushes, [write_request(CAPTURE_SWITCH, "1"), write_request(CAPTURED, ""),
                                      write_request(CAPTURED, "a"), write_request(CAPTURED, "ab")])
            self.assertEqual(client.exchange(r'{"GetVal":"' + CAPTURED + '"}'), read_reply("ab"))
            self.assertIsNone(service.process.poll())
            self.assertEqual(client.handshake(), ACK)
            self.assertEqual(service.wait(), 0)
            client.close()

    def test_missing_script_is_refused(self):
        service = Service("--script", "/nonexistent/script", expect_ready=False)
        self.assertEqual(service.wait(), 2)
        service.stop()


if __name__ == "__main__":
    unittest.main()
