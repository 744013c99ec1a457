#!/usr/bin/python3
"""Draws the README's plots from the CSV files that quillon-curves measured.

Usage: /usr/bin/python3 tools/plots/plot_curves.py CSV_FOLDER OUTPUT_FOLDER

Writes plot-transfer.png, plot-gain-reduction.png and plot-makeup.png. Needs Debian's
python3-matplotlib (scripts/setup.sh installs it).
"""
import csv
import math
import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (the backend is chosen first)

PEAK_COLOURS = {0.0: "#7f7f7f", 25.0: "#1f77b4", 50.0: "#2ca02c", 75.0: "#ff7f0e", 100.0: "#d62728"}
BURST_START, BURST_END = 1.0, 2.0  # seconds, as quillon-curves plays it


def read_rows(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def save(figure, path):
    figure.tight_layout()
    # No software version in the file, so a re-run with the same numbers gives the same bytes.
    figure.savefig(path, dpi=110, metadata={"Software": None})
    plt.close(figure)
    print(f"wrote {path}")


def plot_transfer(rows, path):
    figure, axes = plt.subplots(figsize=(7.5, 5.6))
    axes.plot([-60, 0], [-60, 0], color="#bbbbbb", linestyle=":", linewidth=1, label="output = input")
    for peak, colour in PEAK_COLOURS.items():
        for mode in ("Comp", "Limit"):
            points = [(float(r["inputDb"]), float(r["outputDb"]))
                      for r in rows if r["mode"] == mode and float(r["peakReduction"]) == peak]
            x, y = zip(*points)
            if mode == "Comp":
                axes.plot(x, y, color=colour, linewidth=2, label=f"Peak Reduction {peak:g}")
            else:
                axes.plot(x, y, color=colour, linestyle="none", marker="o", markersize=3.2,
                          markerfacecolor="white", markeredgewidth=1)
    axes.plot([], [], color="black", linestyle="none", marker="o", markerfacecolor="white",
              label="Limit (circles)")
    axes.set_xlim(-60, 0)
    axes.set_ylim(-60, 10)
    axes.set_xlabel("input level (dBFS, peak of the tone)")
    axes.set_ylabel("output level (dBFS, peak of the tone)")
    axes.set_title("Static transfer curve: steady 1 kHz tone, Gain 30, Comp (lines) and Limit (circles)",
                   fontsize=10)
    axes.grid(True, color="#e5e5e5")
    axes.legend(loc="upper left", fontsize=9)
    save(figure, path)


def plot_gain_reduction(rows, path):
    figure, (attack, release) = plt.subplots(1, 2, figsize=(10, 4.6), sharey=True,
                                             gridspec_kw={"width_ratios": [1, 1.6]})
    settings = sorted({(r["mode"], float(r["peakReduction"])) for r in rows}, key=lambda s: (s[0], s[1]))
    for mode, peak in settings:
        points = [(float(r["timeSeconds"]), float(r["reductionDb"]))
                  for r in rows if r["mode"] == mode and float(r["peakReduction"]) == peak]
        style = dict(color=PEAK_COLOURS[peak], linewidth=1.8 if mode == "Comp" else 1.4,
                     linestyle="-" if mode == "Comp" else "--", label=f"{mode}, Peak Reduction {peak:g}")
        attack.plot([1000 * (t - BURST_START) for t, _ in points if -0.01 <= t - BURST_START <= 0.15],
                    [g for t, g in points if -0.01 <= t - BURST_START <= 0.15], **style)
        release.plot([t - BURST_END for t, _ in points if -0.2 <= t - BURST_END],
                     [g for t, g in points if -0.2 <= t - BURST_END], **style)
    attack.set_xlabel("time after the burst starts (ms)")
    release.set_xlabel("time after the burst ends (s)")
    attack.set_ylabel("gain reduction (dB)")
    attack.set_title("Attack", fontsize=10)
    release.set_title("Release", fontsize=10)
    for axes in (attack, release):
        axes.axvline(0, color="#999999", linewidth=1)
        axes.grid(True, color="#e5e5e5")
    release.legend(loc="upper right", fontsize=8.5)
    figure.suptitle("Gain reduction over a 1 kHz burst: -40 dBFS, 1 s at -6 dBFS, back to -40 dBFS (Gain 30)",
                    fontsize=10)
    save(figure, path)


def plot_makeup(rows, path):
    figure, axes = plt.subplots(figsize=(7.5, 4.6))
    points = [(float(r["gain"]), float(r["quietToneGainDb"])) for r in rows]
    audible = [(g, d) for g, d in points if not math.isnan(d)]
    muted = [g for g, d in points if math.isnan(d)]
    axes.plot(*zip(*audible), color="#1f77b4", linewidth=2)
    if muted:
        edge = min(g for g, _ in audible)
        axes.axvspan(0, edge, color="#dddddd")
        axes.text(edge / 2, 0, "output silent", ha="center", va="center", rotation=90, fontsize=9)
    default = next(d for g, d in audible if g == 30.0)
    axes.plot([30], [default], marker="o", color="#d62728")
    axes.annotate(f"default Gain 30: {default:+.2f} dB", (30, default), xytext=(36, default - 9), fontsize=9,
                  arrowprops=dict(arrowstyle="-", color="#888888"))
    axes.set_xlim(0, 100)
    axes.set_ylim(-50, 42)
    axes.set_xlabel("Gain knob")
    axes.set_ylabel("output minus input level (dB)")
    axes.set_title("Make-up gain over the Gain knob: quiet 1 kHz tone (-60 dBFS), no gain reduction", fontsize=10)
    axes.grid(True, color="#e5e5e5")
    save(figure, path)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    source, target = Path(sys.argv[1]), Path(sys.argv[2])
    target.mkdir(parents=True, exist_ok=True)
    plot_transfer(read_rows(source / "transfer.csv"), target / "plot-transfer.png")
    plot_gain_reduction(read_rows(source / "burst.csv"), target / "plot-gain-reduction.png")
    plot_makeup(read_rows(source / "makeup.csv"), target / "plot-makeup.png")


if __name__ == "__main__":
    main()
