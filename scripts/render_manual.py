#!/usr/bin/env python3
"""Turns the Markdown manual into one self-contained HTML file: every picture
is embedded as a data: URI, so the page reads the same wherever it is unpacked."""
import base64
import html
import os
import re
import sys

import markdown

STYLE = """
body { font-family: "Meiryo", "MS PGothic", sans-serif; max-width: 52em; margin: 2em auto;
       padding: 0 1em; line-height: 1.7; color: #222; }
h1, h2, h3 { border-bottom: 1px solid #ccc; padding-bottom: .2em; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #bbb; padding: .3em .6em; vertical-align: top; text-align: left; }
th { background: #eee; }
code, pre { font-family: "MS Gothic", monospace; background: #f4f4f4; }
pre { padding: .6em; overflow-x: auto; }
img { max-width: 100%; border: 1px solid #ccc; }
figcaption, .caption { font-size: 90%; color: #555; }
"""


def embed_pictures(body, base):
    def data_uri(match):
        src = match.group(2)
        if re.match(r"^(data:|https?:)", src):
            return match.group(0)
        with open(os.path.join(base, src), "rb") as f:
            data = base64.b64encode(f.read()).decode("ascii")
        kind = "png" if src.lower().endswith(".png") else "jpeg"
        return '%sdata:image/%s;base64,%s"' % (match.group(1), kind, data)
    return re.sub(r'(<img[^>]*\bsrc=")([^"]+)"', data_uri, body)


def main(source, target):
    with open(source, encoding="utf-8") as f:
        text = f.read()
    title = next((l[2:].strip() for l in text.splitlines() if l.startswith("# ")), "manual")
    body = markdown.markdown(text, extensions=["tables", "fenced_code", "toc"])
    body = embed_pictures(body, os.path.dirname(os.path.abspath(source)))
    page = ('<!DOCTYPE html>\n<html lang="ja">\n<head>\n<meta charset="utf-8">\n<title>%s</title>\n'
            '<style>%s</style>\n</head>\n<body>\n%s\n</body>\n</html>\n') % (html.escape(title), STYLE, body)
    with open(target, "w", encoding="utf-8", newline="\n") as f:
        f.write(page)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
