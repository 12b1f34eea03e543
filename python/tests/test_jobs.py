"""Tests of the package's job functions (convert, info, formats) and of the
export binding's signatures and errors, over the built libraries."""
import inspect
import math
import os
import pathlib
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import cadenzor  # noqa: E402
from cadenzor import CadenzorError, CancelledError  # noqa: E402


def tone_wav(path, rate=16000, seconds=1.0, channels=1):
    n = int(rate * seconds)
    frames = []
    for i in range(n):
        v = int(9000 * math.sin(2 * math.pi * 440 * i / rate))
        frames.append(struct.pack("<h", v) * channels)
    data = b"".join(frames)
    fmt = struct.pack("<HHIIHH", 1, channels, rate, rate * 2 * channels, 2 * channels, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", len(data)) + data
    path.write_bytes(b"RIFF" + struct.pack("<I", len(body)) + body)
    return path


class Jobs(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.tmp = pathlib.Path(self.dir.name)
        self.wav = tone_wav(self.tmp / "tone.wav")

    def tearDown(self):
        self.dir.cleanup()

    def test_convert_with_binary_progress_and_quality(self):
        seen = []
        r = cadenzor.convert(self.wav, self.tmp / "out.apm", rate=8000, binary=self.tmp / "out.bin",
                             measure_quality=True, progress=seen.append)
        self.assertEqual(r.output_bytes, (self.tmp / "out.apm").stat().st_size)
        self.assertEqual(r.binary_bytes, (self.tmp / "out.bin").stat().st_size)
        self.assertTrue((self.tmp / "out.bin.h").exists())
        self.assertEqual((r.rate, r.channels), (8000, 1))
        self.assertAlmostEqual(r.duration, 1.0, places=2)
        self.assertGreater(r.snr_db, 10)
        self.assertEqual(seen, sorted(set(seen)))
        self.assertEqual((seen[0], seen[-1]), (0, 100))
        self.assertIsNone(r.data)

    def test_memory_and_files_give_the_same_bytes(self):
        for fmt, binary in (("APM", True), ("mdm", True), (".wav", False)):
            with self.subTest(fmt=fmt):
                out = self.tmp / ("file" + (fmt if fmt.startswith(".") else "." + fmt.lower()))
                on_disk = cadenzor.convert(self.wav, out, rate=8000,
                                           binary=(self.tmp / (fmt + ".bin")) if binary else None)
                mem = cadenzor.convert(self.wav.read_bytes(), None, format=fmt, rate=8000, binary=binary or None)
                self.assertEqual(mem.data, out.read_bytes())
                if binary:
                    self.assertEqual(mem.binary_data, (self.tmp / (fmt + ".bin")).read_bytes())
                self.assertEqual(on_disk.output_bytes, len(mem.data))

    def test_compatible_profile_writes_the_exports_bytes(self):
        t = self.tmp
        cadenzor.exports.ConvertWAVToAPMWithResample(self.wav, t / "e.apm", t / "e.bin", 8000)
        cadenzor.convert(self.wav, t / "j.apm", rate=8000, binary=t / "j.bin", profile="compatible")
        self.assertEqual((t / "j.apm").read_bytes(), (t / "e.apm").read_bytes())
        self.assertEqual((t / "j.bin").read_bytes(), (t / "e.bin").read_bytes())

    def test_codec_settings_and_header_styles_reach_the_outputs(self):
        low = cadenzor.convert(self.wav, None, format="SBD", rate=8000, bitrate=8000, binary=True)
        high = cadenzor.convert(self.wav, None, format="SBD", rate=8000, bitrate=16000, binary=True)
        self.assertLess(len(low.binary_data), len(high.binary_data))
        for style, words in (("plain", b"unsigned char"), ("firmware", b"#ifndef")):
            with self.subTest(style):
                bin_path = self.tmp / (style + ".bin")
                cadenzor.convert(self.wav, self.tmp / (style + ".apm"), binary=bin_path, header=style)
                header = (self.tmp / (style + ".bin.h")).read_bytes()
                self.assertIn(words, header)
        self.assertNotEqual((self.tmp / "plain.bin.h").read_bytes(), (self.tmp / "firmware.bin.h").read_bytes())

    def test_failures_carry_the_code_and_the_text(self):
        (self.tmp / "exists.apm").write_bytes(b"keep")
        cases = [
            # input, output, options, code, words in the text
            (self.tmp / "missing.wav", "o.apm", {}, 3, "missing.wav"),
            (self.wav, "o.xyz", {}, 4, "o.xyz"),
            (self.wav, "o.mdm", {"bitrate": 16000}, 5, "bit rate"),
            (self.wav, "exists.apm", {}, 6, "exists.apm"),
            (self.wav, "o.wav", {"binary": "o.bin"}, 7, "binary"),
        ]
        for source, out, options, code, words in cases:
            with self.subTest(out=out):
                if "binary" in options:
                    options = dict(options, binary=self.tmp / options["binary"])
                with self.assertRaises(CadenzorError) as raised:
                    cadenzor.convert(source, self.tmp / out, **options)
                e = raised.exception
                self.assertEqual(e.code, code, str(e))
                self.assertEqual(e.code_name, cadenzor.STATUS_NAMES[code])
                self.assertIn(words, str(e))
                self.assertTrue(e.reason)
        self.assertEqual((self.tmp / "exists.apm").read_bytes(), b"keep")
        self.assertEqual(sorted(p.name for p in self.tmp.iterdir()), ["exists.apm", "tone.wav"])
        with self.assertRaises(ValueError):
            cadenzor.convert(self.wav, self.tmp / "o.apm", profile="loud")

    def test_cancel_from_the_callback_leaves_nothing(self):
        longer = tone_wav(self.tmp / "long.wav", seconds=6.0)

        class Stop(Exception):
            pass

        def raise_at_half(p):
            if p >= 50:
                raise Stop()

        for name, callback, expected in (("true at 50", lambda p: p >= 50, CancelledError),
                                         ("at once", lambda p: True, CancelledError),
                                         ("raises", raise_at_half, Stop)):
            with self.subTest(name):
                with self.assertRaises(expected) as raised:
                    cadenzor.convert(longer, self.tmp / "c.mdm", rate=8000, binary=self.tmp / "c.bin",
                                     progress=callback)
                if expected is CancelledError:
                    self.assertEqual(raised.exception.code, 10)
                    self.assertIn("cancelled", str(raised.exception))
                self.assertEqual(sorted(p.name for p in self.tmp.iterdir()), ["long.wav", "tone.wav"])

    def test_jobs_on_threads_at_once_give_the_bytes_of_serial_runs(self):
        import threading
        jobs = [("APM", 8000), ("MDM", 8000), ("APM", 11025), ("MDM", 0)]
        serial = [cadenzor.convert(self.wav, None, format=f, rate=r, binary=True) for f, r in jobs]
        results = [None] * len(jobs)
        errors = []

        def run(i):
            try:
                f, r = jobs[i]
                results[i] = cadenzor.convert(self.wav, None, format=f, rate=r, binary=True)
            except Exception as e:  # noqa: BLE001 - reported below
                errors.append(e)

        threads = [threading.Thread(target=run, args=(i,)) for i in range(len(jobs))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(errors, [])
        for i, (a, b) in enumerate(zip(serial, results)):
            self.assertEqual((a.data, a.binary_data), (b.data, b.binary_data), jobs[i])

    def test_formats(self):
        rows = cadenzor.formats()
        by_name = {}
        for f in rows:
            self.assertTrue(f.extension.startswith("."), f)
            by_name.setdefault(f.name, []).append(f)
        apm = [f for f in by_name["APM"] if f.writes]
        self.assertTrue(apm and apm[0].makes_binary and apm[0].extension == ".apm")
        self.assertFalse(any(f.makes_binary for f in by_name["WAV"]))
        # The binary fact of every written format agrees with a conversion.
        short = tone_wav(self.tmp / "short.wav", seconds=0.25).read_bytes()
        seen = set()
        for f in rows:
            if not f.writes or f.id in seen or f.name == "WAV":
                continue
            seen.add(f.id)
            with self.subTest(f.name):
                try:
                    r = cadenzor.convert(short, None, format=f.extension, rate=8000, binary=True)
                    made = len(r.binary_data) > 0
                except CadenzorError:
                    made = False
                self.assertEqual(made, f.makes_binary)
        self.assertGreater(len(seen), 20)

    def test_info_gives_the_tools_fields(self):
        cadenzor.convert(self.wav, self.tmp / "i.apm", rate=8000)
        facts = cadenzor.info(self.tmp / "i.apm")
        self.assertIn("APM", facts["format"])
        self.assertEqual(facts["file"], str(self.tmp / "i.apm"))
        wav = cadenzor.info(self.wav)
        self.assertIn("WAV", wav["format"])
        with self.assertRaises(CadenzorError) as raised:
            cadenzor.info(self.tmp / "none.wav")
        self.assertEqual(raised.exception.code, 3)
        self.assertIn("none.wav", str(raised.exception))

    def test_exports_have_real_signatures_and_the_librarys_words(self):
        sig = inspect.signature(cadenzor.exports.ConvertWAVToAPMWithResample)
        self.assertEqual(list(sig.parameters), ["source", "apm_path", "binary_path", "target_rate"])
        self.assertIs(sig.parameters["target_rate"].annotation, int)
        self.assertIs(cadenzor.ConvertWAVToAPM, cadenzor.exports.ConvertWAVToAPM)
        cadenzor.exports.WAVResample(source=self.wav, wav_path=self.tmp / "r.wav", target_rate=8000)
        self.assertTrue(cadenzor.exports.CheckSupportWavFile(path=self.tmp / "r.wav"))
        with self.assertRaises(cadenzor.ExportError) as raised:
            cadenzor.exports.ConvertWAVToAPM(self.tmp / "none.wav", self.tmp / "o.apm", self.tmp / "o.bin")
        e = raised.exception
        self.assertIsInstance(e, CadenzorError)
        self.assertEqual(e.function, "ConvertWAVToAPM")
        self.assertIn("none.wav: the file cannot be opened", str(e))
        self.assertEqual(e.code, 3)
        self.assertFalse((self.tmp / "o.apm").exists())


if __name__ == "__main__":
    unittest.main()
