#!/usr/bin/python3
"""Writes SPE camera files (versions 2.x and 3.0) of argon along a discharge pulse.

    /usr/bin/python3 data/make_spe.py pulse.spe                      SPE 3.0, 50 frames
    /usr/bin/python3 data/make_spe.py --version 2 pulse_v2.spe       the same data as SPE 2.x
    /usr/bin/python3 data/make_spe.py --frames 1000 --text FOLDER pulse.spe
                                      also every frame as a text recording in FOLDER
    /usr/bin/python3 data/make_spe.py --seeds FOLDER                  small files of each kind

Every frame is one exposure of an ICCD behind a spectrograph: the argon
lines of make_recording.py (the self-absorption model of make_gas.py) at the
n_1 of the pulse at the frame's time (make_recording.pulse_log_n1), as
Gaussians of --fwhm on a sloping continuum, sampled at the centres of
--pixels pixels whose wavelength is a quadratic polynomial in the pixel
number (the first pixel is number 1), with --noise relative Gaussian noise
from a fixed seed, stored as unsigned 16-bit counts (--type changes that).

An SPE 3.0 file carries the wavelength of each column and each frame's
exposure start and end (ticks of a microsecond, --step-us apart) in its XML
footer and frame metadata; an SPE 2.x file carries the polynomial in its
header and no times. --text writes each frame as "wavelength,counts" text
(wavelengths to 17 significant digits), the exports to compare the binary
reading with. --seeds writes the fuzz harness's seed files: each pixel type
of both versions, several regions, a few frames of a few pixels.

Needs NumPy (Debian's python3-numpy).
"""

import argparse
import math
import struct
import sys
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import make_gas  # noqa: E402
import make_recording  # noqa: E402

HEADER_BYTES = 4100
# The wavelength of pixel p (from 1): POLYNOMIAL[0] + POLYNOMIAL[1] p + POLYNOMIAL[2] p^2 nm,
# 690 to 860 nm over 1 024 pixels, where argon's strong 4p-4s lines lie.
POLYNOMIAL = (689.8, 0.168, -1.5e-6)
CONTINUUM = (1000.0, 600.0)  # counts at the first and the last pixel
PEAK = 20000.0               # counts of the strongest line's peak
START_TICKS = 1_234_567      # the first exposure's start, in ticks since absoluteTime
ABSOLUTE_TIME = "2026-03-01T10:00:00.0000000+01:00"
# (code, NumPy type, 3.0 pixel format or None)
TYPES = {
    "float32": (0, "f4", "MonochromeFloating32"),
    "int32": (1, "i4", None),
    "int16": (2, "i2", None),
    "uint16": (3, "u2", "MonochromeUnsigned16"),
    "uint32": (8, "u4", "MonochromeUnsigned32"),
}


def wavelengths(pixels, polynomial=POLYNOMIAL):
    """The polynomial at pixels 1 .. pixels, evaluated as a reader would (Horner)."""
    out = []
    for p in range(1, pixels + 1):
        value = 0.0
        for c in reversed(polynomial):
            value = value * float(p) + c
        out.append(value)
    return out


def frame_counts(log_n1, wl, fwhm, noise, rng, integral):
    """One frame's counts at the wavelengths wl."""
    x = np.asarray(wl)
    argon = make_gas.GASES["argon"]
    lines = make_recording.line_areas(argon, log_n1)
    continuum = CONTINUUM[0] + (CONTINUUM[1] - CONTINUUM[0]) * np.linspace(0, 1, len(x))
    expected = continuum.copy()
    # The pulse's peak density sets the scale, so that the frames differ as n_1 does.
    strongest = max(a for _, _, a in make_recording.line_areas(argon, math.log10(make_recording.PULSE_PEAK)))
    scale = PEAK * make_recording.GAUSS_AREA_PER_PEAK * fwhm / strongest
    for _, line_wl, relative in lines:
        expected += relative * scale * make_recording.profile("gauss", x, line_wl, fwhm)
    counts = expected * (1 + noise * rng.standard_normal(len(x)))
    if integral:
        counts = np.clip(np.rint(counts), 0, 65535)
    return counts


def header(version, type_code, width, height, frames, polynomial, footer_offset=0):
    h = bytearray(HEADER_BYTES)
    struct.pack_into("<H", h, 6, width)
    struct.pack_into("<H", h, 18, height)
    struct.pack_into("<h", h, 34, -1)
    struct.pack_into("<H", h, 42, width)
    struct.pack_into("<h", h, 108, type_code)
    struct.pack_into("<H", h, 656, height)
    struct.pack_into("<h", h, 658, 1)
    struct.pack_into("<i", h, 664, -1)
    struct.pack_into("<Q", h, 678, footer_offset)
    struct.pack_into("<i", h, 1446, frames)
    struct.pack_into("<h", h, 1510, 1)
    struct.pack_into("<f", h, 1992, 3.0 if version == 3 else 2.5)
    struct.pack_into("<i", h, 2996, 0x01234567)
    if polynomial:
        struct.pack_into("<b", h, 3098, 1)
        struct.pack_into("<b", h, 3101, len(polynomial) - 1)
        struct.pack_into(f"<{len(polynomial)}d", h, 3263, *polynomial)
    struct.pack_into("<h", h, 4098, 0x5555)
    return h


def footer(frames, pixel_format, regions, pixel_bytes, stride, wl, timed):
    size = sum(w * h for w, h in regions) * pixel_bytes
    meta = ' metaFormat="1"' if timed else ""
    xml = ['<?xml version="1.0" encoding="utf-8"?>\n',
           '<SpeFormat version="3.0" xmlns="http://www.princetoninstruments.com/spe/2009">',
           f'<DataFormat><DataBlock type="Frame" count="{frames}" pixelFormat="{pixel_format}" '
           f'size="{size}" stride="{stride}"{meta} calibrations="1">']
    for w, h in regions:
        xml.append(f'<DataBlock type="Region" count="1" width="{w}" height="{h}" '
                   f'size="{w * h * pixel_bytes}" stride="{w * h * pixel_bytes}" calibrations="2,3"/>')
    xml.append("</DataBlock></DataFormat>")
    if timed:
        stamp = ('type="Int64" bitDepth="64" resolution="1000000" '
                 f'absoluteTime="{ABSOLUTE_TIME}"')
        xml.append('<MetaFormat><MetaBlock type="Frame" id="1">'
                   f'<TimeStamp event="ExposureStarted" {stamp}/>'
                   f'<TimeStamp event="ExposureEnded" {stamp}/>'
                   '<FrameTrackingNumber type="Int64" bitDepth="64"/>'
                   "</MetaBlock></MetaFormat>")
    xml.append('<Calibrations><WavelengthMapping id="1"><Wavelength xml:space="preserve">')
    xml.append(",".join(repr(v) for v in wl))
    xml.append(f'</Wavelength></WavelengthMapping><SensorInformation id="2" width="{len(wl)}" '
               f'height="1"/><SensorMapping id="3" x="0" y="0" width="{len(wl)}" height="1" '
               'xBinning="1" yBinning="1"/></Calibrations></SpeFormat>\n')
    return "".join(xml).encode("utf-8")


def spe_bytes(version, type_name, regions, frames, polynomial, step_ticks=None, exposure_ticks=5):
    """A whole file: `frames` is a list of frames, each a list of the regions' pixel arrays."""
    code, fmt, pixel_format = TYPES[type_name]
    if version == 3 and pixel_format is None:
        raise ValueError(f"SPE 3.0 has no pixel type {type_name}")
    pixel_bytes = np.dtype(fmt).itemsize
    timed = version == 3 and step_ticks is not None
    data = bytearray()
    for k, frame in enumerate(frames):
        for pixels in frame:
            data += np.asarray(pixels).astype("<" + fmt).tobytes()
        if timed:
            start = START_TICKS + k * step_ticks
            data += struct.pack("<qqq", start, start + exposure_ticks, k + 1)
    width, height = regions[0]
    size = sum(w * h for w, h in regions) * pixel_bytes
    stride = size + (24 if timed else 0)
    if version == 3:
        wl = wavelengths(width, polynomial)
        head = header(3, code, width, height, len(frames), None, HEADER_BYTES + len(data))
        return bytes(head) + bytes(data) + footer(len(frames), pixel_format, regions, pixel_bytes,
                                                  stride, wl, timed)
    if len(regions) != 1:
        raise ValueError("an SPE 2.x file holds one region")
    return bytes(header(2, code, width, height, len(frames), polynomial)) + bytes(data)


def pulse(args):
    """The pulse's frames as arrays of counts, and the pixels' wavelengths."""
    wl = wavelengths(args.pixels)
    rng = np.random.default_rng(args.seed)
    integral = args.type != "float32"
    frames = [frame_counts(make_recording.pulse_log_n1(k * args.step_us), wl, args.fwhm,
                           args.noise, rng, integral) for k in range(args.frames)]
    return frames, wl


def seed_files():
    """{name: bytes} of small files of each kind for the fuzz harness."""
    rng = np.random.default_rng(5)
    # 64 pixels over 758 to 771 nm, across argon's 763.5 nm line.
    polynomial = (758.0, 0.2)
    files = {}
    def frames(count, regions, scale=1000):
        return [[list(rng.integers(0, scale, w * h)) for w, h in regions] for _ in range(count)]
    for type_name in ("uint16", "uint32", "float32"):
        files[f"v3_{type_name}.spe"] = spe_bytes(3, type_name, [(64, 1)], frames(3, [(64, 1)]),
                                                 polynomial, step_ticks=40)
    for type_name in ("uint16", "int16", "int32", "float32"):
        files[f"v2_{type_name}.spe"] = spe_bytes(2, type_name, [(64, 1)], frames(2, [(64, 1)]),
                                                 polynomial)
    regions = [(64, 1), (64, 3)]
    files["v3_two_regions.spe"] = spe_bytes(3, "uint16", regions, frames(2, regions), polynomial)
    return files


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", nargs="?", help="the SPE file to write")
    parser.add_argument("--version", type=int, choices=(2, 3), default=3)
    parser.add_argument("--frames", type=int, default=50)
    parser.add_argument("--pixels", type=int, default=1024)
    parser.add_argument("--step-us", type=int, default=10, help="between the frames' starts")
    parser.add_argument("--fwhm", type=float, default=0.5, help="nm")
    parser.add_argument("--noise", type=float, default=0.02, help="relative, per pixel")
    parser.add_argument("--type", choices=sorted(TYPES), default="uint16")
    parser.add_argument("--seed", type=int, default=37)
    parser.add_argument("--text", metavar="FOLDER", help="also write each frame as a text recording")
    parser.add_argument("--seeds", metavar="FOLDER", help="write the fuzz harness's seed files")
    args = parser.parse_args()

    if args.seeds:
        folder = Path(args.seeds)
        folder.mkdir(parents=True, exist_ok=True)
        for name, data in seed_files().items():
            (folder / name).write_bytes(data)
        return 0
    if not args.output:
        parser.error("name the SPE file to write, or give --seeds FOLDER")
    if not 1 <= args.frames <= 2 ** 31 - 1 or not 10 <= args.pixels <= 65535:
        parser.error("--frames takes 1 or more, --pixels 10 to 65535")
    frames, wl = pulse(args)
    data = spe_bytes(args.version, args.type, [(args.pixels, 1)], [[f] for f in frames],
                     POLYNOMIAL, step_ticks=args.step_us)
    Path(args.output).write_bytes(data)
    if args.text:
        folder = Path(args.text)
        folder.mkdir(parents=True, exist_ok=True)
        width = len(str(args.frames))
        for k, counts in enumerate(frames):
            rows = "".join(f"{w!r},{c:.17g}\n" for w, c in zip(wl, counts))
            (folder / f"frame_{k + 1:0{width}d}.recording.csv").write_text(
                "wavelength_nm,counts\n" + rows, encoding="ascii")
    return 0


if __name__ == "__main__":
    sys.exit(main())
