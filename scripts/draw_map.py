#!/usr/bin/env python3
"""Draws the objects of an .osu map that start between two times as an SVG
picture of the playfield: circles and straight sliders at the map's circle
size, numbered within their combos and coloured by combo, with the cursor's
path from each object to the next; the earlier an object, the fainter.

  scripts/draw_map.py MAP.osu FROM_MS TO_MS > picture.svg
"""
import math
import re
import sys

COLOURS = ["#ffc000", "#00ca00", "#127cff", "#f21839", "#800080", "#00ffff", "#ff8000", "#ff69b4"]


def read_map(path):
    text = open(path, encoding="utf-8-sig").read()
    circle_size = float(re.search(r"\nCircleSize:([0-9.]+)", text).group(1))
    version = re.search(r"\nVersion:(.*)", text).group(1)
    objects = []
    for line in text.split("[HitObjects]", 1)[1].split():
        fields = line.split(",")
        x, y, time, kind = int(fields[0]), int(fields[1]), int(fields[2]), int(fields[3])
        tail = None
        if kind & 2:
            end = re.match(r"L\|(-?\d+):(-?\d+)", fields[5])
            ex, ey = int(end.group(1)), int(end.group(2))
            length = float(fields[7])
            d = math.hypot(ex - x, ey - y) or 1.0
            tail = (x + (ex - x) / d * length, y + (ey - y) / d * length, int(fields[6]))
        key = re.search(r"piano/(\d+)", line)
        objects.append({"x": x, "y": y, "time": time, "new_combo": bool(kind & 4), "tail": tail,
                        "key": int(key.group(1)) if key else None})
    return circle_size, version, objects


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    circle_size, version, objects = read_map(sys.argv[1])
    start, end = int(sys.argv[2]), int(sys.argv[3])
    radius = 64 * (1 - 0.7 * (circle_size - 5) / 5) / 2
    combo, number, colour = -1, 0, 0
    shown = []
    for o in objects:
        if o["new_combo"] or combo < 0:
            combo += 1
            number = 0
        number += 1
        if start <= o["time"] <= end:
            shown.append((o, number, COLOURS[combo % len(COLOURS)]))
    margin = 40
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{512 + 2 * margin}" height="{384 + 2 * margin + 24}" '
           f'viewBox="{-margin} {-margin - 24} {512 + 2 * margin} {384 + 2 * margin + 24}" font-family="sans-serif">',
           f'<rect x="{-margin}" y="{-margin - 24}" width="{512 + 2 * margin}" height="{384 + 2 * margin + 24}" fill="#1c1c24"/>',
           '<rect x="0" y="0" width="512" height="384" fill="none" stroke="#555" stroke-dasharray="4 4"/>',
           f'<text x="0" y="{-margin + 4}" fill="#ddd" font-size="14">{version}: {start / 1000:.1f} s to '
           f'{end / 1000:.1f} s, {len(shown)} objects</text>']
    # The cursor's path, under the objects.
    for (a, _, _), (b, _, _) in zip(shown, shown[1:]):
        ax, ay = (a["tail"][0], a["tail"][1]) if a["tail"] and a["tail"][2] % 2 == 1 else (a["x"], a["y"])
        out.append(f'<line x1="{ax:.1f}" y1="{ay:.1f}" x2="{b["x"]}" y2="{b["y"]}" stroke="#888" '
                   'stroke-width="1.5" stroke-dasharray="3 5"/>')
    # Later objects under earlier ones, as the game draws them.
    for o, number, colour in reversed(shown):
        fade = 0.35 + 0.65 * (o["time"] - start) / max(1, end - start)
        out.append(f'<g opacity="{fade:.2f}">')
        if o["tail"]:
            tx, ty, _ = o["tail"]
            out.append(f'<line x1="{o["x"]}" y1="{o["y"]}" x2="{tx:.1f}" y2="{ty:.1f}" stroke="#fff" '
                       f'stroke-width="{2 * radius:.1f}" stroke-linecap="round" opacity="0.9"/>')
            out.append(f'<line x1="{o["x"]}" y1="{o["y"]}" x2="{tx:.1f}" y2="{ty:.1f}" stroke="#333" '
                       f'stroke-width="{2 * radius - 6:.1f}" stroke-linecap="round"/>')
            out.append(f'<circle cx="{tx:.1f}" cy="{ty:.1f}" r="{radius:.1f}" fill="none" stroke="#fff" stroke-width="3"/>')
        out.append(f'<circle cx="{o["x"]}" cy="{o["y"]}" r="{radius:.1f}" fill="{colour}" stroke="#fff" stroke-width="3"/>')
        out.append(f'<text x="{o["x"]}" y="{o["y"] + 7}" fill="#fff" font-size="20" font-weight="bold" '
                   f'text-anchor="middle">{number}</text>')
        if o["key"] is not None:
            out.append(f'<text x="{o["x"]}" y="{o["y"] - radius - 4:.1f}" fill="#bbb" font-size="11" '
                       f'text-anchor="middle">{o["key"]}</text>')
        out.append('</g>')
    out.append("</svg>")
    print("\n".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
