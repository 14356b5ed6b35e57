#!/usr/bin/env python3
"""Writes the golden vectors of the receive chain's signal processing to tests/golden/.

Each set is an input and the output the receive chain must produce for it, computed here
in double precision from the definitions, independently of the C++ code: a plain complex
FFT (checked against the DFT sum) instead of the real-input split transform, the window and
sinc formulas written out again, the overlap-add and the quadrature filter step by step.
tests/receive/golden_test.cpp runs every set against the single-precision code with the
tolerance the set states: the largest allowed error relative to the largest expected
magnitude of that array.

The sets:
  fft        RealFft: n samples in, the packed spectrum out (X(0)/2, X(n/2)/2, then
             Re X(k), Im X(k) for k = 1..n/2-1)
  ifft       InverseRealFft: a packed spectrum in, the samples out
  power      SpectrumAnalyzer::WindowedPowerSpectrum: 4096 samples in, bins 1..2048 out
  bandpass   ToneFilter::DesignBandpass(low, high): the 1025 taps and the packed response
             (slots 0..1022 of the 2048-point transform of the taps)
  convolve   ToneFilter::Convolve after DesignBandpass(low, high): successive 1024-sample
             blocks in, filtered blocks out (overlap-add, the tail carried between blocks)
  envelope   EnvelopeDetector::Process: successive 1024-sample blocks in, 64 envelope
             values per block out

Inputs are single-precision values, written so that they read back exactly. Pure Python
(no numpy needed); run it from anywhere: python3 tools/make_golden_vectors.py
"""

import cmath
import math
import os
import random
import struct

# Tolerances, relative to the largest expected magnitude: about ten times the largest error
# the single-precision code showed when the sets were made (FFT 9e-7, inverse 4.5e-7,
# power 8e-7, bandpass 2.3e-6 at the centre tap, where 1 - h_high + h_low rounds in float,
# block convolution 2.8e-6, envelope 1.9e-7).
FFT_TOLERANCE = 1e-5
IFFT_TOLERANCE = 5e-6
POWER_TOLERANCE = 1e-5
BANDPASS_TOLERANCE = 3e-5
CONVOLVE_TOLERANCE = 3e-5
ENVELOPE_TOLERANCE = 2e-6

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "golden")


def f32(x):
    """The nearest single-precision value, as a Python float."""
    return struct.unpack("f", struct.pack("f", x))[0]


# --- Transforms -----------------------------------------------------------------------


def fft(x):
    """Complex radix-2 FFT, X(k) = sum x(n) exp(-2 pi i k n / N)."""
    n = len(x)
    if n == 1:
        return [complex(x[0])]
    even = fft(x[0::2])
    odd = fft(x[1::2])
    out = [0j] * n
    for k in range(n // 2):
        t = cmath.exp(-2j * math.pi * k / n) * odd[k]
        out[k] = even[k] + t
        out[k + n // 2] = even[k] - t
    return out


def dft(x):
    n = len(x)
    return [sum(x[j] * cmath.exp(-2j * math.pi * k * j / n) for j in range(n)) for k in range(n)]


def pack(spectrum):
    """The real-input transform's layout of the first half of a spectrum."""
    n = len(spectrum)
    out = [spectrum[0].real / 2.0, spectrum[n // 2].real / 2.0]
    for k in range(1, n // 2):
        out += [spectrum[k].real, spectrum[k].imag]
    return out


def unpack(packed):
    """The full Hermitian spectrum a packed one stands for."""
    n = len(packed)
    spectrum = [0j] * n
    spectrum[0] = complex(2.0 * packed[0])
    spectrum[n // 2] = complex(2.0 * packed[1])
    for k in range(1, n // 2):
        spectrum[k] = complex(packed[2 * k], packed[2 * k + 1])
        spectrum[n - k] = spectrum[k].conjugate()
    return spectrum


def real_fft(x):
    return pack(fft([complex(v) for v in x]))


def inverse_real_fft(packed):
    """The samples whose packed spectrum is `packed`: the inverse DFT, 1/N scaled."""
    n = len(packed)
    conj = [v.conjugate() for v in fft([v.conjugate() for v in unpack(packed)])]
    return [v.real / n for v in conj]


# --- The receive chain's definitions ----------------------------------------------------


def power_spectrum(samples):
    n = 4096
    w = [
        0.35875
        - 0.48829 * math.cos(2 * math.pi * i / n)
        + 0.14128 * math.cos(4 * math.pi * i / n)
        - 0.01168 * math.cos(6 * math.pi * i / n)
        for i in range(n)
    ]
    p = real_fft([samples[i] * w[i] for i in range(n)])
    bins = [p[0] * p[0] + p[1] * p[1]]
    bins += [p[2 * k] ** 2 + p[2 * k + 1] ** 2 for k in range(1, 2048)]
    return bins


TAPS = 1025
CENTRE = 512


def lowpass(cutoff):
    """Windowed sinc low-pass, normalised to unit sum (the window alone at cutoff 0)."""
    v = [
        0.40243
        - 0.49804 * math.cos(2 * math.pi * i / 1024)
        + 0.09831 * math.cos(4 * math.pi * i / 1024)
        - 0.00122 * math.cos(6 * math.pi * i / 1024)
        for i in range(TAPS)
    ]
    if cutoff == 0.0:
        taps = v
    else:
        w = 2 * math.pi * cutoff
        taps = [
            (w if i == CENTRE else math.sin(w * (i - CENTRE)) / (i - CENTRE)) * v[i]
            for i in range(TAPS)
        ]
    s = sum(taps)
    return [t / s for t in taps]


def bandpass(low, high):
    lo = lowpass(low)
    hi = lowpass(high)
    taps = [hi[i] - lo[i] for i in range(TAPS)]
    response = real_fft(taps + [0.0] * (2048 - TAPS))[: 2 * 1023]
    return taps, response


def filter_segment(segment, response):
    """512 samples and 512 zeros through the 1024-point transform; each packed slot k
    (slot 0 holding the 0 Hz and half-rate pair) multiplied as a complex number by slot k
    of the response; transformed back."""
    p = real_fft(segment + [0.0] * 512)
    for k in range(512):
        product = complex(p[2 * k], p[2 * k + 1]) * complex(response[2 * k], response[2 * k + 1])
        p[2 * k], p[2 * k + 1] = product.real, product.imag
    return inverse_real_fft(p)


def convolve_blocks(blocks, response):
    carried = [0.0] * 1024
    out = []
    for block in blocks:
        a = filter_segment(block[:512], response)
        first = [a[k] + carried[k + 512] for k in range(512)]
        b = filter_segment(block[512:], response)
        second = [b[k] + a[k + 512] for k in range(512)]
        carried = b
        out += first + second
    return out


QUADRATURE_EVEN = [0.038135, 0.024179, 0.032403, 0.043301, 0.05842,
                   0.081119, 0.120167, 0.207859, 0.635163]


def quadrature_taps():
    taps = [0.0] * 35
    for i, t in enumerate(QUADRATURE_EVEN):
        taps[2 * i] = f32(t)
        taps[34 - 2 * i] = -f32(t)
    return taps


def envelope_blocks(blocks):
    """Per block: the last 64 samples of the previous block, then the block; the 35-tap
    quadrature filter centred on each of the first 1086 samples, with the sums cut off where
    they would reach past sample 1085; 32 |in + i quadrature| at samples 20, 36, ... 1028."""
    taps = quadrature_taps()
    tail = [0.0] * 64
    out = []
    for block in blocks:
        x = tail + block
        count = 1086
        for k in range(64):
            j = 20 + 16 * k
            q = sum(taps[t] * x[j + 17 - t] for t in range(35) if 0 <= j + 17 - t < count)
            out.append(32.0 * math.hypot(x[j], q))
        tail = block[-64:]
    return out


# --- Writing ------------------------------------------------------------------------------


def write_set(name, kind, tolerance, params, arrays):
    path = os.path.join(OUT, name + ".txt")
    with open(path, "w") as f:
        f.write("# Golden vectors made by tools/make_golden_vectors.py; do not edit.\n")
        f.write("kind %s\n" % kind)
        f.write("tolerance %g\n" % tolerance)
        for key, value in params:
            f.write("param %s %.9g\n" % (key, value))
        for key, values in arrays:
            # Inputs are single-precision values (nine digits read them back exactly);
            # expected values carry twelve digits, far below any tolerance.
            form = "%.9g" if key == "input" else "%.12g"
            f.write("array %s %d\n" % (key, len(values)))
            for i in range(0, len(values), 6):
                f.write(" ".join(form % v for v in values[i:i + 6]) + "\n")
    print("wrote", os.path.relpath(path))


def noise(rng, n, amplitude):
    return [f32(rng.uniform(-amplitude, amplitude)) for _ in range(n)]


def tone(n, cycles_per_sample, amplitude, phase=0.3):
    return [amplitude * math.sin(2 * math.pi * cycles_per_sample * i + phase) for i in range(n)]


def keyed_tone_blocks(rng, blocks, cycles_per_sample, amplitude):
    """A tone keyed on and off every 300 samples, with some noise: what the bandpass and
    the envelope see of Morse."""
    n = 1024 * blocks
    x = tone(n, cycles_per_sample, amplitude)
    out = []
    for i in range(n):
        keyed = x[i] if (i // 300) % 2 == 0 else 0.0
        out.append(f32(keyed + rng.uniform(-0.05, 0.05) * amplitude))
    return [out[1024 * b:1024 * (b + 1)] for b in range(blocks)]


def main():
    os.makedirs(OUT, exist_ok=True)
    rng = random.Random(20261210)

    # The FFT here is the reference for everything else: check it against the sum.
    check = [complex(v) for v in noise(rng, 64, 1.0)]
    assert max(abs(a - b) for a, b in zip(fft(check), dft(check))) < 1e-12

    for n, x, label in [
        (16, noise(rng, 16, 1000.0), "fft_16_noise"),
        (64, [f32(v) for v in tone(64, 5.0 / 64.0, 1000.0)], "fft_64_tone"),
        (1024, noise(rng, 1024, 1000.0), "fft_1024_noise"),
        (4096, noise(rng, 4096, 1000.0), "fft_4096_noise"),
    ]:
        write_set(label, "fft", FFT_TOLERANCE, [("n", n)], [("input", x), ("expected", real_fft(x))])

    for n, label in [(64, "ifft_64_noise"), (1024, "ifft_1024_noise")]:
        packed = noise(rng, n, 1000.0)
        write_set(label, "ifft", IFFT_TOLERANCE, [("n", n)],
                  [("input", packed), ("expected", inverse_real_fft(packed))])

    # 700 Hz at 22050 Hz on noise, as 16-bit samples.
    samples = [int(round(8000 * math.sin(2 * math.pi * 700 / 22050 * i) + rng.uniform(-3000, 3000)))
               for i in range(4096)]
    write_set("power_700hz_noise", "power", POWER_TOLERANCE, [],
              [("input", samples), ("expected", power_spectrum(samples))])

    # 700 Hz at the tone rate (5512.5 Hz) with the idle half width, a narrow band higher
    # up, and a band from 0 Hz (the zero-cutoff design).
    centre = 700.0 / 5512.5
    bands = [
        ("bandpass_700hz", f32(centre - 0.00795), f32(centre + 0.00795)),
        ("bandpass_narrow", f32(0.2 - 0.0034351), f32(0.2 + 0.0034351)),
        ("bandpass_from_0hz", 0.0, f32(0.01)),
    ]
    for label, low, high in bands:
        taps, response = bandpass(low, high)
        write_set(label, "bandpass", BANDPASS_TOLERANCE, [("low", low), ("high", high)],
                  [("taps", taps), ("response", response)])

    low, high = bands[0][1], bands[0][2]
    _, response = bandpass(low, high)
    blocks = keyed_tone_blocks(rng, 3, centre, 3000.0)
    flat = [v for b in blocks for v in b]
    write_set("convolve_700hz_keyed", "convolve", CONVOLVE_TOLERANCE, [("low", low), ("high", high)],
              [("input", flat), ("expected", convolve_blocks(blocks, response))])

    blocks = keyed_tone_blocks(rng, 3, centre, 500.0)
    flat = [v for b in blocks for v in b]
    write_set("envelope_700hz_keyed", "envelope", ENVELOPE_TOLERANCE, [],
              [("input", flat), ("expected", envelope_blocks(blocks))])


if __name__ == "__main__":
    main()
