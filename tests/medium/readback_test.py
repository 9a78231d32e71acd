"""The builder's read-back against images that are not the medium they were checked against:
a byte that differs at either end of a file, within the image's head or past it, in a whole
piece of those it compares or in the last; a host file one byte longer or shorter; names the
image lacks, adds or holds in another case. The builder's own runs only ever show it images
that are right."""
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "medium"))
import image  # noqa: E402
import layout  # noqa: E402
import readback  # noqa: E402
from report import MediumError  # noqa: E402

PIECE = 1 << 20  # the read-back compares a file in pieces of a MiB


class ReadBack(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work)
        payload = os.path.join(self.work, "payload")
        os.makedirs(os.path.join(payload, "Init"))
        # Read me.txt lies in the image's first reads, with its folders; Big.bin past them.
        for name, data in (("Init/Clock", b"clock\r\n"), ("Read me.txt", b"x" * 5000),
                           ("Init/Big.bin", bytes(range(256)) * (3 * PIECE // 256) + b"!")):
            with open(os.path.join(payload, name), "wb") as out:
                out.write(data)
        self.medium = layout.read_payload(payload)
        self.image = os.path.join(self.work, "cd.iso")
        image.write(self.medium, self.image)

    def test_the_medium_itself_reads_back(self):
        self.assertEqual(readback.verify(self.image, self.medium), 3)

    def test_one_byte_that_differs(self):
        for name, offset in (("Read me.txt", 0), ("Read me.txt", 4999), ("Init/Big.bin", 0),
                             ("Init/Big.bin", PIECE), ("Init/Big.bin", 3 * PIECE)):
            with self.subTest(name=name, offset=offset):
                with open(self.medium.files[name], "r+b", buffering=0) as changed:
                    changed.seek(offset)
                    was = changed.read(1)
                    changed.seek(offset)
                    changed.write(bytes([was[0] ^ 1]))
                    with self.assertRaisesRegex(MediumError,
                                                f"differs in {name.replace('/', '.')}$"):
                        readback.verify(self.image, self.medium)
                    changed.seek(offset)
                    changed.write(was)

    def test_a_host_file_one_byte_longer_or_shorter(self):
        for name in ("Read me.txt", "Init/Big.bin"):
            host = self.medium.files[name]
            size = os.path.getsize(host)
            for other in (size + 1, size - 1):
                with self.subTest(name=name, size=other):
                    os.truncate(host, other)
                    with self.assertRaisesRegex(MediumError, "differs in"):
                        readback.verify(self.image, self.medium)
                    os.truncate(host, size)

    def test_names_the_image_lacks_adds_or_holds_in_another_case(self):
        clock = self.medium.files.pop("Init/Clock")
        self.medium.files["Init/CLOCK"] = clock
        self.medium.dirs.add("Extra")
        with self.assertRaisesRegex(MediumError, r"holds other names: missing Extra, "
                                    r"Init\\CLOCK; unexpected Init\\Clock$"):
            readback.verify(self.image, self.medium)


if __name__ == "__main__":
    unittest.main()
