#!/usr/bin/env python3
"""Writes the player's skin: flat, dark SVG pictures for the bars, the buttons in their four
states (normal, over, pressed, disabled) and the slider thumbs. Run it after changing a colour
or a glyph; the pictures it writes are committed beside it and compiled into the player.

    python3 assets/skin/make-skin.py
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))

# Palette. The bars are flat so that the opaque button pictures sit on them seamlessly.
TITLE = "#16171a"      # title bar and side borders
BAR = "#1f2125"        # control bar
EDGE = "#0b0c0e"       # outer edge of the frame
LINE = "#2e3137"       # highlight line along the top of the control bar
ACCENT = "#f2a541"     # warm amber, the same family as the on-screen display text
ACCENT_HI = "#ffbd5e"
ACCENT_LO = "#cf8524"
GLYPH = "#c4c8cf"
GLYPH_HI = "#ffffff"
GLYPH_DIM = "#4b4f56"
FACE = "#2a2d33"       # round buttons
FACE_HI = "#343840"
FACE_LO = "#18191c"
RING = "#3b3f47"
CLOSE_HI = "#c8413c"
CLOSE_LO = "#a3312d"

STATES = ("normal", "over", "down", "disabled")


def svg(w, h, body):
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{w}" height="{h}" '
            f'viewBox="0 0 {w} {h}">\n{body}\n</svg>\n')


def write(name, text):
    with open(os.path.join(HERE, name), "w", encoding="utf-8") as f:
        f.write(text)


# Glyphs, drawn around (cx, cy) with the colour c; s scales them.
def g_play(cx, cy, s, c):
    return (f'<path d="M{cx - 5*s:.2f},{cy - 7*s:.2f} L{cx + 8*s:.2f},{cy:.2f} '
            f'L{cx - 5*s:.2f},{cy + 7*s:.2f} Z" fill="{c}" stroke="{c}" stroke-width="{1.2*s:.2f}" '
            f'stroke-linejoin="round"/>')


def g_pause(cx, cy, s, c):
    w, h = 3.6 * s, 13 * s
    return (f'<rect x="{cx - 5.4*s:.2f}" y="{cy - h/2:.2f}" width="{w:.2f}" height="{h:.2f}" rx="{s:.2f}" fill="{c}"/>'
            f'<rect x="{cx + 1.8*s:.2f}" y="{cy - h/2:.2f}" width="{w:.2f}" height="{h:.2f}" rx="{s:.2f}" fill="{c}"/>')


def g_stop(cx, cy, s, c):
    a = 10 * s
    return f'<rect x="{cx - a/2:.2f}" y="{cy - a/2:.2f}" width="{a:.2f}" height="{a:.2f}" rx="{1.5*s:.2f}" fill="{c}"/>'


def g_open(cx, cy, s, c):
    # A folder.
    x0, y0 = cx - 8*s, cy - 6*s
    return (f'<path d="M{x0:.2f},{y0 + 2*s:.2f} q0,-2 2,-2 h{4*s:.2f} l{2*s:.2f},{2*s:.2f} h{6*s:.2f} '
            f'q2,0 2,2 v{8*s:.2f} q0,2 -2,2 h{-12*s:.2f} q-2,0 -2,-2 Z" fill="none" stroke="{c}" '
            f'stroke-width="{1.8*s:.2f}" stroke-linejoin="round"/>'
            f'<path d="M{x0:.2f},{y0 + 5*s:.2f} h{16*s:.2f}" stroke="{c}" stroke-width="{1.6*s:.2f}"/>')


def g_recent(cx, cy, s, c):
    # A clock: the recently opened recordings.
    r = 7.5 * s
    return (f'<circle cx="{cx:.2f}" cy="{cy:.2f}" r="{r:.2f}" fill="none" stroke="{c}" stroke-width="{1.8*s:.2f}"/>'
            f'<path d="M{cx:.2f},{cy - 4.5*s:.2f} V{cy:.2f} L{cx + 3.5*s:.2f},{cy + 2.5*s:.2f}" fill="none" '
            f'stroke="{c}" stroke-width="{1.8*s:.2f}" stroke-linecap="round" stroke-linejoin="round"/>')


def g_function(cx, cy, s, c):
    out = []
    for dy in (-5, 0, 5):
        out.append(f'<path d="M{cx - 7*s:.2f},{cy + dy*s:.2f} H{cx + 7*s:.2f}" stroke="{c}" '
                   f'stroke-width="{2*s:.2f}" stroke-linecap="round"/>')
    return "".join(out)


def g_speaker(cx, cy, s, c):
    return (f'<path d="M{cx - 7*s:.2f},{cy - 2.5*s:.2f} h{3*s:.2f} l{4*s:.2f},{-4*s:.2f} v{13*s:.2f} '
            f'l{-4*s:.2f},{-4*s:.2f} h{-3*s:.2f} Z" fill="{c}"/>')


def g_sound(cx, cy, s, c):
    return g_speaker(cx, cy, s, c) + (
        f'<path d="M{cx + 2.5*s:.2f},{cy - 3*s:.2f} q{2.5*s:.2f},{3*s:.2f} 0,{6*s:.2f}" fill="none" '
        f'stroke="{c}" stroke-width="{1.4*s:.2f}" stroke-linecap="round"/>'
        f'<path d="M{cx + 4.5*s:.2f},{cy - 5.5*s:.2f} q{4.5*s:.2f},{5.5*s:.2f} 0,{11*s:.2f}" fill="none" '
        f'stroke="{c}" stroke-width="{1.4*s:.2f}" stroke-linecap="round"/>')


def g_muted(cx, cy, s, c):
    return g_speaker(cx, cy, s, c) + (
        f'<path d="M{cx + 2.5*s:.2f},{cy - 3*s:.2f} l{5*s:.2f},{6*s:.2f} M{cx + 7.5*s:.2f},{cy - 3*s:.2f} '
        f'l{-5*s:.2f},{6*s:.2f}" stroke="{c}" stroke-width="{1.5*s:.2f}" stroke-linecap="round"/>')


def g_minimize(cx, cy, s, c):
    return f'<path d="M{cx - 4.5:.2f},{cy + 3:.2f} H{cx + 4.5:.2f}" stroke="{c}" stroke-width="1.6" stroke-linecap="round"/>'


def g_maximize(cx, cy, s, c):
    return f'<rect x="{cx - 4.5:.2f}" y="{cy - 4:.2f}" width="9" height="8" rx="1" fill="none" stroke="{c}" stroke-width="1.4"/>'


def g_restore(cx, cy, s, c):
    return (f'<rect x="{cx - 5:.2f}" y="{cy - 2:.2f}" width="7" height="6" rx="1" fill="none" stroke="{c}" stroke-width="1.3"/>'
            f'<path d="M{cx - 2.5:.2f},{cy - 4:.2f} h6.5 q1,0 1,1 v5" fill="none" stroke="{c}" stroke-width="1.3"/>')


def g_close(cx, cy, s, c):
    return (f'<path d="M{cx - 4:.2f},{cy - 4:.2f} L{cx + 4:.2f},{cy + 4:.2f} M{cx + 4:.2f},{cy - 4:.2f} '
            f'L{cx - 4:.2f},{cy + 4:.2f}" stroke="{c}" stroke-width="1.6" stroke-linecap="round"/>')


def round_button(name, w, h, glyph, scale=1.0):
    cx, cy, r = w / 2, h / 2, min(w, h) / 2 - 3
    looks = {
        "normal": (FACE, RING, GLYPH, 0),
        "over": (FACE_HI, ACCENT, GLYPH_HI, 0),
        "down": (FACE_LO, ACCENT_LO, ACCENT, 1),
        "disabled": (BAR, "#2a2d32", GLYPH_DIM, 0),
    }
    for state in STATES:
        face, ring, glyph_colour, shift = looks[state]
        body = (f'<rect width="{w}" height="{h}" fill="{BAR}"/>'
                f'<circle cx="{cx}" cy="{cy + 1}" r="{r}" fill="#111214" opacity="0.6"/>'
                f'<circle cx="{cx}" cy="{cy}" r="{r}" fill="{face}" stroke="{ring}" stroke-width="1.5"/>'
                + glyph(cx, cy + shift, scale, glyph_colour))
        write(f"{name}_{state}.svg", svg(w, h, body))


def play_button(name, glyph):
    w = h = 53
    cx, cy, r = 26.5, 26.5, 23
    looks = {
        "normal": (ACCENT, ACCENT_LO, BAR, 0),
        "over": (ACCENT_HI, ACCENT, BAR, 0),
        "down": (ACCENT_LO, "#a86a1a", "#111214", 1),
        "disabled": ("#2c2f35", "#2c2f35", GLYPH_DIM, 0),
    }
    for state in STATES:
        face, ring, glyph_colour, shift = looks[state]
        body = (f'<rect width="{w}" height="{h}" fill="{BAR}"/>'
                f'<circle cx="{cx}" cy="{cy + 1.2}" r="{r}" fill="#0d0e10" opacity="0.7"/>'
                f'<circle cx="{cx}" cy="{cy}" r="{r}" fill="{face}" stroke="{ring}" stroke-width="1.5"/>'
                + glyph(cx + (1.5 if glyph is g_play else 0), cy + shift, 1.45, glyph_colour))
        write(f"{name}_{state}.svg", svg(w, h, body))


def flat_button(name, w, h, glyph, background, over_bg, down_bg, scale=1.0, cy=None):
    cy = h / 2 if cy is None else cy
    looks = {
        "normal": (background, GLYPH, 0),
        "over": (over_bg, GLYPH_HI, 0),
        "down": (down_bg, ACCENT, 1),
        "disabled": (background, GLYPH_DIM, 0),
    }
    for state in STATES:
        bg, colour, shift = looks[state]
        body = f'<rect width="{w}" height="{h}" fill="{bg}"/>' + glyph(w / 2, cy + shift, scale, colour)
        write(f"{name}_{state}.svg", svg(w, h, body))


def main():
    # Buttons.
    play_button("play", g_play)
    play_button("pause", g_pause)
    round_button("stop", 41, 42, g_stop)
    round_button("open", 41, 42, g_open)
    round_button("recent", 41, 42, g_recent)
    round_button("function", 41, 42, g_function)
    flat_button("mute", 17, 17, g_sound, BAR, BAR, BAR, 0.95)
    flat_button("muted", 17, 17, g_muted, BAR, BAR, BAR, 0.95)
    flat_button("minimize", 25, 18, g_minimize, TITLE, "#2b2e34", "#222429", cy=9)
    flat_button("maximize", 25, 18, g_maximize, TITLE, "#2b2e34", "#222429", cy=9.5)
    flat_button("restore", 25, 18, g_restore, TITLE, "#2b2e34", "#222429", cy=9.5)
    flat_button("close", 43, 18, g_close, TITLE, CLOSE_HI, CLOSE_LO, cy=9)

    # Title bar: the left cap carries the player's mark; the middle stretches.
    mark = (f'<circle cx="14" cy="13.5" r="7" fill="{ACCENT}"/>'
            f'<path d="M12,10 L17.5,13.5 L12,17 Z" fill="{TITLE}"/>')
    write("title_left.svg", svg(79, 27, f'<rect width="79" height="27" fill="{TITLE}"/>'
                                        f'<rect width="1" height="27" fill="{EDGE}"/>'
                                        f'<rect width="79" height="1" fill="{EDGE}"/>' + mark))
    write("title_middle.svg", svg(16, 27, f'<rect width="16" height="27" fill="{TITLE}"/>'
                                          f'<rect width="16" height="1" fill="{EDGE}"/>'))
    write("title_right.svg", svg(96, 27, f'<rect width="96" height="27" fill="{TITLE}"/>'
                                         f'<rect width="96" height="1" fill="{EDGE}"/>'
                                         f'<rect x="95" width="1" height="27" fill="{EDGE}"/>'))

    # Side borders, stretched along the window's height.
    write("border_left.svg", svg(4, 16, f'<rect width="4" height="16" fill="{TITLE}"/>'
                                        f'<rect width="1" height="16" fill="{EDGE}"/>'))
    write("border_right.svg", svg(4, 16, f'<rect width="4" height="16" fill="{TITLE}"/>'
                                         f'<rect x="3" width="1" height="16" fill="{EDGE}"/>'))

    # Control bar.
    write("control_left.svg", svg(10, 85, f'<rect width="10" height="85" fill="{BAR}"/>'
                                          f'<rect width="10" height="1" fill="{LINE}"/>'
                                          f'<rect width="1" height="85" fill="{EDGE}"/>'
                                          f'<rect y="84" width="10" height="1" fill="{EDGE}"/>'))
    write("control_middle.svg", svg(16, 85, f'<rect width="16" height="85" fill="{BAR}"/>'
                                            f'<rect width="16" height="1" fill="{LINE}"/>'
                                            f'<rect y="84" width="16" height="1" fill="{EDGE}"/>'))
    write("control_right.svg", svg(10, 85, f'<rect width="10" height="85" fill="{BAR}"/>'
                                           f'<rect width="10" height="1" fill="{LINE}"/>'
                                           f'<rect x="9" width="1" height="85" fill="{EDGE}"/>'
                                           f'<rect y="84" width="10" height="1" fill="{EDGE}"/>'))
    write("decoration.svg", svg(96, 15, f'<rect width="96" height="15" fill="{BAR}"/>'
                                        f'<text x="48" y="11" text-anchor="middle" font-family="sans-serif" '
                                        f'font-size="8.5" font-weight="bold" letter-spacing="2.2" '
                                        f'fill="#3a3e46">BRISA</text>'))
    grip = "".join(f'<rect x="{x}" y="{y}" width="2" height="2" fill="#4a4e56"/>'
                   for x, y in ((9, 1), (5, 5), (9, 5), (1, 9), (5, 9), (9, 9)))
    write("grip.svg", svg(12, 12, f'<rect width="12" height="12" fill="{BAR}"/>' + grip))

    # Slider thumbs, drawn over the rulers.
    for name, size, r in (("thumb_playbar", 12, 5.2), ("thumb_volume", 10, 4.2)):
        c = size / 2
        for state, fill in (("normal", "#e9ebee"), ("over", GLYPH_HI), ("disabled", "#3c4047")):
            write(f"{name}_{state}.svg",
                  svg(size, size, f'<circle cx="{c}" cy="{c}" r="{r}" fill="{fill}" stroke="{ACCENT if state != "disabled" else "#2c2f35"}" stroke-width="1.4"/>'))

    # The player's icon.
    write("icon.svg", svg(64, 64, f'<rect width="64" height="64" rx="14" fill="{TITLE}"/>'
                                  f'<circle cx="32" cy="32" r="22" fill="{ACCENT}"/>'
                                  f'<path d="M26,20 L45,32 L26,44 Z" fill="{TITLE}"/>'))

    # The resource list, so that the build picks every picture up.
    names = sorted(n for n in os.listdir(HERE) if n.endswith(".svg"))
    qrc = ['<!DOCTYPE RCC><RCC version="1.0">', '<qresource prefix="/skin">']
    qrc += [f'  <file>{n}</file>' for n in names]
    qrc += ['</qresource>', '</RCC>', '']
    write("skin.qrc", "\n".join(qrc))


if __name__ == "__main__":
    main()
