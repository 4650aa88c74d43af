"""The socket directory: made private when missing, refused when it is not
a private directory of the service's user. The service runs as a user of
its own here (which needs root), so the directory under test is not the one
that other programs of this machine are using."""

import os
import shutil
import stat
import unittest

from service_harness import ACK, REQUEST_PIPE, SEND_ONLY_PIPE, Service, socket_dir

# A user id that no account on this machine is expected to have.
TEST_UID = 47000 + os.getpid() % 1000


def make_file(path):
    open(path, "w").close()


def make_dir(mode, owner=TEST_UID):
    def make(path):
        os.mkdir(path)
        os.chmod(path, mode)
        os.chown(path, owner, -1)
    return make


def make_link(path):
    target = path + ".target"
    make_dir(0o700)(target)
    os.symlink(target, path)


@unittest.skipUnless(os.getuid() == 0, "needs root to run the service as another user")
class SocketDirectory(unittest.TestCase):
    def setUp(self):
        self.path = socket_dir(TEST_UID)
        self.remove()
        self.addCleanup(self.remove)

    def remove(self):
        for path in (self.path, self.path + ".target"):
            if os.path.islink(path) or os.path.isfile(path):
                os.unlink(path)
            elif os.path.isdir(path):
                shutil.rmtree(path)

    def test_missing_directory_is_made_private(self):
        with Service(user=TEST_UID) as service:
            info = os.lstat(self.path)
            self.assertTrue(stat.S_ISDIR(info.st_mode))
            self.assertEqual((info.st_uid, stat.S_IMODE(info.st_mode)), (TEST_UID, 0o700))
            for name in (REQUEST_PIPE, SEND_ONLY_PIPE):
                info = os.lstat(service.path(name))
                self.assertTrue(stat.S_ISSOCK(info.st_mode))
                self.assertEqual((info.st_uid, stat.S_IMODE(info.st_mode) & 0o077), (TEST_UID, 0))

    def test_private_directory_is_used(self):
        make_dir(0o700)(self.path)
        with Service(user=TEST_UID) as service:
            client = service.client()  # as root, which may reach any socket
            self.assertEqual(client.handshake(), ACK)
            client.close()

    def test_untrusted_directories_are_refused(self):
        cases = [
            ("a plain file", make_file, "not a directory"),
            ("a link to a private directory", make_link, "not a directory"),
            ("group may read", make_dir(0o750), "mode 0750"),
            ("others may enter", make_dir(0o701), "mode 0701"),
            ("another owner", make_dir(0o700, owner=0), "owned by uid 0"),
        ]
        for name, make, reason in cases:
            with self.subTest(name):
                self.remove()
                make(self.path)
                service = Service(user=TEST_UID, expect_ready=False)
                self.assertEqual(service.wait(), 1)
                self.assertIn(reason, service.stderr())
                service.stop()
                # Nothing was served from it.
                if os.path.isdir(self.path) and not os.path.islink(self.path):
                    self.assertEqual(os.listdir(self.path), [])


if __name__ == "__main__":
    unittest.main()
