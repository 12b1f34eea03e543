"""Tests of the Python binding over the built library."""
import os
import pathlib
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import cadenzor  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
HEADER = HERE.parent.parent / "include" / "cadenzor" / "cadenzor.h"
EXAMPLE = HERE.parent.parent / "examples" / "hello.wav"


def tone_wav(path, rate=16000, n=8000):
    import math
    data = b"".join(struct.pack("<h", int(8000 * math.sin(i * 0.1))) for i in range(n))
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", len(data)) + data
    path.write_bytes(b"RIFF" + struct.pack("<I", len(body)) + body)


class Binding(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.tmp = pathlib.Path(self.dir.name)

    def tearDown(self):
        self.dir.cleanup()

    def test_every_export_of_the_header_is_bound(self):
        text = HEADER.read_text()
        names = [line.split("CZ_CALL", 1)[1].split("(", 1)[0].strip()
                 for line in text.splitlines() if "CZ_API int32_t CZ_CALL" in line]
        self.assertEqual(names, list(cadenzor.FUNCTIONS))
        self.assertEqual(len(names), 29)

    def test_conversions_take_path_like_objects(self):
        wav = self.tmp / "tone.wav"
        tone_wav(wav)
        self.assertTrue(cadenzor.CheckSupportWavFile(wav))
        cadenzor.ConvertWAVToAPM(wav, self.tmp / "t.apm", self.tmp / "t.bin")
        self.assertGreater((self.tmp / "t.bin").stat().st_size, 0)
        self.assertTrue((self.tmp / "t.bin.h").exists())
        cadenzor.WAVResample(str(wav), os.fsencode(self.tmp / "r.wav"), 8000)
        self.assertTrue(cadenzor.CheckSupportWavFile(self.tmp / "r.wav"))
        cadenzor.ConvertMDMToWAV  # bound
        cadenzor.ConvertWAVToMDM(wav, self.tmp / "t.mdm", self.tmp / "m.bin")
        cadenzor.ConvertMDMToWAV(self.tmp / "t.mdm", self.tmp / "back.wav")
        self.assertTrue(cadenzor.CheckSupportWavFile(self.tmp / "back.wav"))

    def test_failures_raise_with_what_the_library_said(self):
        missing = self.tmp / "none.wav"
        self.assertFalse(cadenzor.CheckSupportWavFile(missing))
        with self.assertRaises(cadenzor.CadenzorError) as raised:
            cadenzor.ConvertWAVToAPM(missing, self.tmp / "o.apm", self.tmp / "o.bin")
        self.assertEqual(raised.exception.function, "ConvertWAVToAPM")
        self.assertIn("ConvertWAVToAPM failed", str(raised.exception))
        self.assertFalse((self.tmp / "o.apm").exists())
        # An unreadable WAV: the library names the reason through its sink.
        bad = self.tmp / "bad.wav"
        bad.write_bytes(b"RIFF\x04\x00\x00\x00WAVE")
        with self.assertRaises(cadenzor.CadenzorError) as raised:
            cadenzor.WAVResample(bad, self.tmp / "o.wav", 8000)
        self.assertIsInstance(raised.exception.messages, str)

    def test_arguments_are_checked_before_the_call(self):
        with self.assertRaises(TypeError):
            cadenzor.WAVResample("a.wav", "b.wav")
        with self.assertRaises(ValueError):
            cadenzor.WAVResample("a.wav", "b.wav", -1)
        with self.assertRaises(ValueError):
            cadenzor.WAVResample("a.wav", "b.wav", 1 << 40)
        with self.assertRaises(TypeError):
            cadenzor.ConvertWAVToAPM(42, "b.apm", "b.bin")


if __name__ == "__main__":
    unittest.main()
