#!/usr/bin/python3
"""Produces the program's 41 images in resources/images.

Run once by a developer when an image changes; the PNG files are committed, so
neither building nor running the program needs this script or its packages.
Needs Debian's tango-icon-theme (public domain icons) and python3-pil; the
images that set has no fitting icon for, and the banner, are drawn here.
"""

import os
import sys

from PIL import Image, ImageDraw, ImageFont

TANGO = "/usr/share/icons/Tango"
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "images")
FONT_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"


def tango(path, size=16):
    return Image.open(os.path.join(TANGO, f"{size}x{size}", path)).convert("RGBA")


def canvas(size=16):
    return Image.new("RGBA", (size, size), (0, 0, 0, 0))


def badge(fill, outline, letter):
    """A round badge with one letter: the status icons of the lists."""
    image = canvas()
    draw = ImageDraw.Draw(image)
    draw.ellipse((0, 0, 15, 15), fill=fill, outline=outline)
    font = ImageFont.truetype(FONT_BOLD, 10)
    box = draw.textbbox((0, 0), letter, font=font)
    width, height = box[2] - box[0], box[3] - box[1]
    draw.text(((16 - width) / 2 - box[0], (16 - height) / 2 - box[1]), letter,
              font=font, fill=(255, 255, 255, 255))
    return image


def bullet_list(numbered):
    image = canvas()
    draw = ImageDraw.Draw(image)
    ink = (46, 52, 54, 255)
    for row, y in enumerate((2, 7, 12)):
        if numbered:
            font = ImageFont.truetype(FONT_BOLD, 6)
            draw.text((0, y - 2), str(row + 1), font=font, fill=(32, 74, 135, 255))
        else:
            draw.ellipse((1, y - 1, 3, y + 1), fill=(32, 74, 135, 255))
        draw.line((6, y, 15, y), fill=ink, width=2)
    return image


def horizontal_rule():
    image = canvas()
    draw = ImageDraw.Draw(image)
    grey = (136, 138, 133, 255)
    for y in (2, 4, 11, 13):
        draw.line((3, y, 12, y), fill=grey)
    draw.rectangle((0, 7, 15, 8), fill=(46, 52, 54, 255))
    return image


def hyperlink():
    """Two chain links."""
    image = canvas()
    draw = ImageDraw.Draw(image)
    blue = (52, 101, 164, 255)
    draw.rounded_rectangle((0, 5, 9, 10), radius=2, outline=blue, width=2)
    draw.rounded_rectangle((6, 5, 15, 10), radius=2, outline=(32, 74, 135, 255), width=2)
    return image


def star():
    import math
    image = canvas()
    draw = ImageDraw.Draw(image)
    points = []
    for k in range(10):
        radius = 7.6 if k % 2 == 0 else 3.2
        angle = -math.pi / 2 + k * math.pi / 5
        points.append((7.5 + radius * math.cos(angle), 8.2 + radius * math.sin(angle)))
    draw.polygon(points, fill=(252, 233, 79, 255), outline=(196, 160, 0, 255))
    return image


def todo():
    """A check box with a tick."""
    image = canvas()
    draw = ImageDraw.Draw(image)
    draw.rectangle((1, 3, 12, 14), fill=(255, 255, 255, 255), outline=(85, 87, 83, 255))
    draw.line((3, 8, 6, 11), fill=(78, 154, 6, 255), width=2)
    draw.line((6, 11, 14, 1), fill=(78, 154, 6, 255), width=2)
    return image


def overlay(base, badge_image, offset=(6, 6)):
    image = base.copy()
    image.alpha_composite(badge_image.resize((10, 10), Image.LANCZOS), offset)
    return image


def banner():
    width, height = 420, 35
    image = Image.new("RGBA", (width, height))
    draw = ImageDraw.Draw(image)
    top, bottom = (52, 101, 164), (32, 74, 135)
    for y in range(height):
        t = y / (height - 1)
        colour = tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
        draw.line((0, y, width, y), fill=colour + (255,))
    draw.line((0, height - 1, width, height - 1), fill=(252, 175, 62, 255))
    image.alpha_composite(tango("apps/internet-mail.png", 32), (width - 38, 2))
    title = ImageFont.truetype(FONT_BOLD, 17)
    tagline = ImageFont.truetype(FONT, 10)
    draw.text((10, 3), "Velmora Mailtray", font=title, fill=(255, 255, 255, 255))
    draw.text((12, 21), "contacts, campaign groups and mailings", font=tagline,
              fill=(220, 230, 242, 255))
    return image


def images():
    group = tango("places/folder.png")
    return {
        0: ("add_contact", tango("actions/contact-new.png")),
        1: ("add_email_list", tango("actions/address-book-new.png")),
        2: ("edit_entries", tango("actions/document-properties.png")),
        3: ("delete_entries", tango("actions/edit-delete.png")),
        4: ("status_customers", badge((245, 121, 0, 255), (206, 92, 0, 255), "C")),
        5: ("status_do_not_contact", tango("actions/process-stop.png")),
        6: ("status_leads", badge((52, 101, 164, 255), (32, 74, 135, 255), "P")),
        7: ("tag_important", tango("emblems/emblem-important.png")),
        8: ("tag_irate", tango("status/weather-storm.png")),
        9: ("tag_star", star()),
        10: ("tag_todo", todo()),
        11: ("add_campaign_group", tango("actions/folder-new.png")),
        12: ("set_group", overlay(group, tango("apps/system-users.png"))),
        13: ("set_status", overlay(tango("apps/system-users.png"),
                                   badge((115, 210, 22, 255), (78, 154, 6, 255), "S"))),
        14: ("set_tag", tango("actions/bookmark-new.png")),
        # 15-17 are replaced by toolbar/make_toolbar_images.sh (full colour).
        15: ("mailtray", tango("apps/internet-mail.png")),
        16: ("delivery_settings", tango("places/network-server.png")),
        17: ("compose", tango("actions/mail-message-new.png")),
        18: ("send_email", tango("actions/mail-forward.png")),
        19: ("save_draft", tango("actions/document-save.png")),
        20: ("preview", tango("actions/document-print-preview.png")),
        21: ("attach_file", tango("status/mail-attachment.png")),
        22: ("bold", tango("actions/format-text-bold.png")),
        23: ("italic", tango("actions/format-text-italic.png")),
        24: ("unordered_list", bullet_list(False)),
        25: ("ordered_list", bullet_list(True)),
        26: ("align_left", tango("actions/format-justify-left.png")),
        27: ("align_center", tango("actions/format-justify-center.png")),
        28: ("align_justify", tango("actions/format-justify-fill.png")),
        29: ("align_right", tango("actions/format-justify-right.png")),
        30: ("indent_more", tango("actions/format-indent-more.png")),
        31: ("indent_less", tango("actions/format-indent-less.png")),
        32: ("horizontal_line", horizontal_rule()),
        33: ("hyperlink", hyperlink()),
        34: ("edit_html", tango("mimetypes/text-html.png")),
        35: ("font_style", tango("apps/preferences-desktop-font.png")),
        36: ("cut", tango("actions/edit-cut.png")),
        37: ("copy", tango("actions/edit-copy.png")),
        38: ("paste", tango("actions/edit-paste.png")),
        39: ("banner", banner()),
        40: ("status_subscribers", badge((115, 210, 22, 255), (78, 154, 6, 255), "S")),
    }


def main():
    os.makedirs(OUT, exist_ok=True)
    table = images()
    if sorted(table) != list(range(41)):
        sys.exit("the image table must hold the numbers 0 to 40")
    for number, (name, image) in sorted(table.items()):
        image.save(os.path.join(OUT, f"{number:02d}_{name}.png"), optimize=True)
    print(f"wrote {len(table)} images to {OUT}")


if __name__ == "__main__":
    main()
