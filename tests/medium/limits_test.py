"""The CD size limits at their edges: an image of 737,280,000 bytes (an 80-minute disc)
passes and one byte more fails; above 650 MiB (681,574,400 bytes) a warning. Before the
image is written, the files, a 2048-byte sector each at least, must fit: sparse files stand
in for a full CD's worth."""
import io
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "medium"))
import checks  # noqa: E402
from report import MediumError, Report  # noqa: E402

EIGHTY_MINUTES = 737_280_000
SEVENTY_FOUR_MINUTES = 681_574_400


class Medium:
    def __init__(self, files):
        self.files = files


class Limits(unittest.TestCase):
    def test_the_image_against_a_cd(self):
        for size, warned in ((SEVENTY_FOUR_MINUTES, False), (SEVENTY_FOUR_MINUTES + 1, True),
                             (EIGHTY_MINUTES, True)):
            with self.subTest(size=size):
                out = io.StringIO()
                checks.check_image_size(size, Report(out=out))
                self.assertEqual("80-minute disc" in out.getvalue(), warned)
        with self.assertRaisesRegex(MediumError, "737,280,001 bytes, more than an 80-minute"):
            checks.check_image_size(EIGHTY_MINUTES + 1, Report(out=io.StringIO()))

    def test_the_files_before_the_image(self):
        work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, work)
        files = {}
        # All but a sector's worth of the disc, then a last file of one sector or a byte more.
        for name, size in (("a", EIGHTY_MINUTES - 2048 - 1), ("b", 0), ("c", 2048)):
            files[name] = os.path.join(work, name)
            with open(files[name], "wb") as out:
                out.truncate(size)
        checks.check_files_fit(Medium(files))
        os.truncate(files["c"], 2049)
        with self.assertRaisesRegex(MediumError, "need 737,282,048 bytes"):
            checks.check_files_fit(Medium(files))


if __name__ == "__main__":
    unittest.main()
