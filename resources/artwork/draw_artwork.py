#!/usr/bin/python3
"""Draws Tarnwick's window icon and pictures; run it after changing any of them.

Needs python3-pil and the DejaVu fonts (fonts-dejavu-core). Writes, next to this script:
tarnwick.ico (32x32 and 16x16, 16 colours), ping-button.gif (79x23, 32 colours),
help-button.gif (19x21, 4 colours), address-marker.gif (20x20, 8 colours),
two-computers.gif (140x160, 128 colours) and tarnwick-{16,32,48,128,256}.png. For screens
of pixel ratio 2, each GIF and the .ico also as NAME@2x: the same picture and colours at twice
the pixels (tarnwick@2x.ico holds 64x64 and 32x32), which Qt takes there instead.
"""
import os
import struct

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
BOLD_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"

FORM_ORANGE = (0xD2, 0x6A, 0x02)
NAVY = (0x1E, 0x35, 0x56)
NAVY_LIGHT = (0x3A, 0x5F, 0x8F)
SCREEN_BLUE = (0x2F, 0x8F, 0xD8)
SCREEN_GLOW = (0x9C, 0xD6, 0xFF)
CASE_LIGHT = (0xE8, 0xE6, 0xE0)
CASE_MID = (0xB9, 0xB6, 0xAE)
CASE_DARK = (0x5C, 0x5A, 0x56)
CABLE = (0x2B, 0x2B, 0x2B)
SIGNAL_YELLOW = (0xFF, 0xD8, 0x4A)
WHITE = (0xFF, 0xFF, 0xFF)
BUTTON_FACE = (0xEF, 0xEF, 0xEF)


def supersampled(size, scale, background, draw, ratio=1):
    """Draws at scale times the size, then shrinks smoothly to ratio times the size."""
    width, height = size
    scale *= ratio
    big = Image.new("RGBA", (width * scale, height * scale), background)
    draw(ImageDraw.Draw(big), scale)
    return big.resize((width * ratio, height * ratio), Image.LANCZOS)


def save_gif(image, colours, name, colours_of=None):
    """Saves at the given depth; in the colours of an earlier picture where one is given, so
    that small details keep their colour at any size."""
    if colours_of is None:
        paletted = image.convert("RGB").quantize(colors=colours, method=Image.MEDIANCUT,
                                                 dither=Image.Dither.NONE)
    else:
        paletted = image.convert("RGB").quantize(palette=colours_of, dither=Image.Dither.NONE)
    # Keep the colour table at the design's depth; Pillow would pad it to 256 entries.
    paletted.putpalette(paletted.getpalette()[:3 * colours])
    paletted.save(os.path.join(HERE, name), optimize=False)
    return paletted


def computer(d, s, x, y, w):
    """A monitor on a stand with a keyboard, its top-left corner at (x, y), w wide."""
    h = w * 0.72
    d.rounded_rectangle([x * s, y * s, (x + w) * s, (y + h) * s], radius=3 * s,
                        fill=CASE_LIGHT, outline=CASE_DARK, width=max(1, s))
    m = w * 0.09
    d.rectangle([(x + m) * s, (y + m) * s, (x + w - m) * s, (y + h - m * 1.6) * s],
                fill=NAVY, outline=CASE_DARK, width=max(1, s // 2))
    # A prompt and an echo line on the screen.
    sx, sy = x + m + w * 0.08, y + m + h * 0.12
    line = max(1, round(h * 0.07))
    d.rectangle([sx * s, sy * s, (sx + w * 0.35) * s, (sy + line) * s], fill=SCREEN_GLOW)
    d.rectangle([sx * s, (sy + h * 0.18) * s, (sx + w * 0.5) * s, (sy + h * 0.18 + line) * s],
                fill=SCREEN_BLUE)
    d.rectangle([sx * s, (sy + h * 0.36) * s, (sx + w * 0.25) * s, (sy + h * 0.36 + line) * s],
                fill=SCREEN_GLOW)
    # Power light.
    d.ellipse([(x + w - m * 2.2) * s, (y + h - m * 1.2) * s, (x + w - m * 1.4) * s,
               (y + h - m * 0.4) * s], fill=(0x3C, 0xC8, 0x3C))
    # Stand and foot.
    cx = x + w / 2
    d.polygon([((cx - w * 0.08) * s, (y + h) * s), ((cx + w * 0.08) * s, (y + h) * s),
               ((cx + w * 0.12) * s, (y + h + w * 0.12) * s),
               ((cx - w * 0.12) * s, (y + h + w * 0.12) * s)], fill=CASE_MID,
              outline=CASE_DARK)
    d.rounded_rectangle([(cx - w * 0.28) * s, (y + h + w * 0.12) * s, (cx + w * 0.28) * s,
                         (y + h + w * 0.17) * s], radius=s, fill=CASE_MID, outline=CASE_DARK)
    # Keyboard.
    ky = y + h + w * 0.22
    d.rounded_rectangle([(x + w * 0.02) * s, ky * s, (x + w * 0.98) * s, (ky + w * 0.13) * s],
                        radius=2 * s, fill=CASE_LIGHT, outline=CASE_DARK, width=max(1, s))
    for row in range(2):
        for key in range(9):
            kx = x + w * 0.07 + key * w * 0.097
            kyy = ky + w * 0.025 + row * w * 0.05
            d.rectangle([kx * s, kyy * s, (kx + w * 0.07) * s, (kyy + w * 0.03) * s],
                        fill=CASE_MID)


def plug(d, s, x, y, vertical):
    """An RJ45 plug centred on (x, y), along the cable's direction."""
    half_long, half_short = 5, 4
    hx, hy = (half_short, half_long) if vertical else (half_long, half_short)
    d.rectangle([(x - hx) * s, (y - hy) * s, (x + hx) * s, (y + hy) * s],
                fill=(0xD8, 0xE4, 0xEC), outline=CASE_DARK, width=max(1, s // 2))
    d.rectangle([(x - 2) * s, (y - 2) * s, (x + 2) * s, (y + 2) * s], fill=(0xC8, 0xA0, 0x30))


def arrow(d, s, x, y, dx, dy):
    """A packet travelling along the cable, pointing along (dx, dy)."""
    px, py = -dy, dx
    tip = ((x + 6 * dx) * s, (y + 6 * dy) * s)
    back1 = ((x - 5 * dx + 5 * px) * s, (y - 5 * dy + 5 * py) * s)
    back2 = ((x - 5 * dx - 5 * px) * s, (y - 5 * dy - 5 * py) * s)
    d.polygon([tip, back1, back2], fill=SIGNAL_YELLOW, outline=CABLE, width=max(1, s // 2))


def draw_two_computers(d, s):
    computer(d, s, 6, 8, 62)
    computer(d, s, 72, 86, 62)
    # Cable from the first computer's side port round to the top of the second one.
    d.line([(68 * s, 30 * s), (96 * s, 30 * s), (103 * s, 37 * s), (103 * s, 78 * s)],
           fill=CABLE, width=4 * s, joint="curve")
    d.ellipse([94 * s, 28 * s, 98 * s, 32 * s], fill=CABLE)
    plug(d, s, 72, 30, vertical=False)
    plug(d, s, 103, 81, vertical=True)
    # The echo request goes out, the reply comes back.
    arrow(d, s, 84, 30, 1, 0)
    arrow(d, s, 103, 58, 0, -1)


def draw_ping_button(d, s):
    d.rounded_rectangle([0, 0, 79 * s - 1, 23 * s - 1], radius=4 * s, fill=NAVY,
                        outline=(0x0F, 0x1E, 0x33), width=s)
    d.rounded_rectangle([s, s, 78 * s - 1, 11 * s], radius=3 * s, fill=NAVY_LIGHT)
    d.rectangle([s, 7 * s, 78 * s - 1, 11 * s], fill=NAVY_LIGHT)
    # A source dot with echo waves spreading out to the right.
    d.ellipse([6 * s, 9 * s, 11 * s, 14 * s], fill=FORM_ORANGE)
    for r in (5, 9):
        d.arc([(8.5 - r) * s, (11.5 - r) * s, (8.5 + r) * s, (11.5 + r) * s], -55, 55,
              fill=SIGNAL_YELLOW, width=int(1.6 * s))
    font = ImageFont.truetype(BOLD_FONT, 14 * s)
    d.text((48 * s, 11.5 * s), "PING", font=font, fill=WHITE, anchor="mm")


def draw_help_button(d, s):
    d.ellipse([1 * s, 2 * s, 18 * s, 19 * s], fill=NAVY)
    font = ImageFont.truetype(BOLD_FONT, 13 * s)
    d.text((9.5 * s, 10.8 * s), "?", font=font, fill=WHITE, anchor="mm")


def draw_address_marker(d, s):
    # A small monitor whose screen points at the address box beside it.
    d.rounded_rectangle([1 * s, 2 * s, 19 * s, 15 * s], radius=2 * s, fill=CASE_LIGHT,
                        outline=CABLE, width=s)
    d.rectangle([3 * s, 4 * s, 17 * s, 12 * s], fill=SCREEN_BLUE)
    d.polygon([(7 * s, 6 * s), (13 * s, 8 * s), (7 * s, 10 * s)], fill=WHITE)
    d.rectangle([8 * s, 15 * s, 12 * s, 17 * s], fill=CASE_MID)
    d.rectangle([5 * s, 17 * s, 15 * s, 19 * s - 1], fill=CABLE)


def draw_icon(d, s):
    # Two screens joined by an orange cable carrying a yellow echo, on a navy tile.
    d.rounded_rectangle([0, 0, 32 * s - 1, 32 * s - 1], radius=6 * s, fill=NAVY)
    d.line([(8.5 * s, 12 * s), (8.5 * s, 26 * s), (23.5 * s, 26 * s), (23.5 * s, 19 * s)],
           fill=FORM_ORANGE, width=3 * s, joint="curve")
    for x, y in ((2, 3), (17, 10)):
        d.rounded_rectangle([x * s, y * s, (x + 13) * s, (y + 10) * s], radius=s,
                            fill=CASE_LIGHT)
        d.rectangle([(x + 2) * s, (y + 2) * s, (x + 11) * s, (y + 8) * s], fill=SCREEN_BLUE)
    d.ellipse([13 * s, 23 * s, 19 * s, 29 * s], fill=SIGNAL_YELLOW)


def icon_image(size):
    """The icon at any size, drawn on its 32-unit grid and shrunk from well above the size."""
    scale = max(8, 4 * size // 32)
    big = Image.new("RGBA", (32 * scale, 32 * scale), (0, 0, 0, 0))
    draw_icon(ImageDraw.Draw(big), scale)
    return big.resize((size, size), Image.LANCZOS)


def ico_entry(image):
    """One 16-colour icon image: header, palette, colour bits and transparency mask."""
    width, height = image.size
    opaque = [a >= 128 for a in image.getchannel("A").getdata()]
    flat = Image.new("RGB", image.size, (0, 0, 0))
    flat.paste(image.convert("RGB"), mask=image.getchannel("A"))
    paletted = flat.quantize(colors=16, method=Image.MEDIANCUT, dither=Image.Dither.NONE)
    palette = paletted.getpalette()[:48]
    palette += [0] * (48 - len(palette))
    indices = list(paletted.getdata())
    colour_row = ((width * 4 + 31) // 32) * 4
    mask_row = ((width + 31) // 32) * 4
    colour_bits, mask_bits = bytearray(), bytearray()
    for y in reversed(range(height)):
        row = bytearray(colour_row)
        mask = bytearray(mask_row)
        for x in range(width):
            i = y * width + x
            index = indices[i] if opaque[i] else 0
            row[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if not opaque[i]:
                mask[x // 8] |= 0x80 >> (x % 8)
        colour_bits += row
        mask_bits += mask
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 4, 0,
                         len(colour_bits) + len(mask_bits), 0, 0, 16, 0)
    colours = b"".join(bytes((palette[3 * k + 2], palette[3 * k + 1], palette[3 * k], 0))
                       for k in range(16))
    return header + colours + bytes(colour_bits) + bytes(mask_bits)


def save_ico(images, name):
    entries = [ico_entry(image) for image in images]
    offset = 6 + 16 * len(entries)
    directory = struct.pack("<HHH", 0, 1, len(entries))
    for image, entry in zip(images, entries):
        directory += struct.pack("<BBBBHHII", image.size[0] % 256, image.size[1] % 256, 16, 0,
                                 1, 4, len(entry), offset)
        offset += len(entry)
    with open(os.path.join(HERE, name), "wb") as out:
        out.write(directory + b"".join(entries))


def main():
    pictures = (("two-computers", (140, 160), 4, FORM_ORANGE, draw_two_computers, 128),
                ("ping-button", (79, 23), 6, BUTTON_FACE, draw_ping_button, 32),
                ("help-button", (19, 21), 8, BUTTON_FACE, draw_help_button, 4),
                ("address-marker", (20, 20), 8, FORM_ORANGE, draw_address_marker, 8))
    for name, size, scale, background, draw, colours in pictures:
        single = save_gif(supersampled(size, scale, background, draw), colours, f"{name}.gif")
        save_gif(supersampled(size, scale, background, draw, 2), colours, f"{name}@2x.gif",
                 colours_of=single)
    save_ico([icon_image(32), icon_image(16)], "tarnwick.ico")
    save_ico([icon_image(64), icon_image(32)], "tarnwick@2x.ico")
    for size in (16, 32, 48, 128, 256):
        icon_image(size).save(os.path.join(HERE, f"tarnwick-{size}.png"))


if __name__ == "__main__":
    main()
