"""Writing the tables: the target is replaced only by a complete file."""

import os
import stat
import tempfile
import unittest

import facetgen


class WriteReplacing(unittest.TestCase):
    def test_outcomes(self):
        # (old content or None, new text, write succeeds)
        cases = [
            (None, "new tables\n", True),
            ("old tables\n", "new tables\n", True),
            # a lone surrogate cannot be encoded: the write fails part way
            ("old tables\n", "new tables \udc80\n", False),
            (None, "new tables \udc80\n", False),
        ]
        for old, new, succeeds in cases:
            with self.subTest(old=old, succeeds=succeeds), tempfile.TemporaryDirectory() as folder:
                path = os.path.join(folder, "facet_tables.cpp")
                if old is not None:
                    with open(path, "w") as f:
                        f.write(old)
                    os.chmod(path, 0o640)
                if succeeds:
                    facetgen.write_replacing(path, new)
                else:
                    with self.assertRaises(UnicodeEncodeError):
                        facetgen.write_replacing(path, new)
                self.assertEqual(os.listdir(folder), [] if old is None and not succeeds else ["facet_tables.cpp"])
                if os.path.exists(path):
                    with open(path) as f:
                        self.assertEqual(f.read(), new if succeeds else old)
                    mode = stat.S_IMODE(os.stat(path).st_mode)
                    self.assertEqual(mode, 0o644 if old is None else 0o640)


if __name__ == "__main__":
    unittest.main()
