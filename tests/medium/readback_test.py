"""The builder's read-back against images that are not the medium they were checked against:
a file whose bytes differ at the same size, and names the image lacks, adds or holds in another
case. The builder's own runs only ever show it images that are right."""
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


class ReadBack(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.work)
        payload = os.path.join(self.work, "payload")
        os.makedirs(os.path.join(payload, "Init"))
        for name, text in (("Init/Clock", "clock\r\n"), ("Read me.txt", "x" * 5000)):
            with open(os.path.join(payload, name), "w") as out:
                out.write(text)
        self.medium = layout.read_payload(payload)
        self.image = os.path.join(self.work, "cd.iso")
        image.write(self.medium, self.image)

    def test_the_medium_itself_reads_back(self):
        self.assertEqual(readback.verify(self.image, self.medium), 2)

    def test_a_file_whose_bytes_differ(self):
        with open(self.medium.files["Read me.txt"], "r+") as changed:
            changed.seek(4000)
            changed.write("y")
        with self.assertRaisesRegex(MediumError, r"differs in Read me\.txt$"):
            readback.verify(self.image, self.medium)

    def test_names_the_image_lacks_adds_or_holds_in_another_case(self):
        clock = self.medium.files.pop("Init/Clock")
        self.medium.files["Init/CLOCK"] = clock
        self.medium.dirs.add("Extra")
        with self.assertRaisesRegex(MediumError, r"holds other names: missing Extra, "
                                    r"Init\\CLOCK; unexpected Init\\Clock$"):
            readback.verify(self.image, self.medium)


if __name__ == "__main__":
    unittest.main()
