#!/usr/bin/env python3
"""Writes the player's language files from their UTF-8 sources.

assets/lang/src/<Lang>.ini  ->  assets/lang/BrisaPlayer.<Lang>.ini

The Korean, Japanese and Chinese files are written as UTF-16LE with a byte-order mark, the
English file as UTF-8; every file gets CR LF line ends. Run it after editing a source and
commit both; the build only copies the written files beside the player, so it needs no
Python. The language tests check that each written file still reads as its source.
"""

import pathlib
import sys

LANG = pathlib.Path(__file__).resolve().parent.parent / "assets" / "lang"
UTF16_LANGUAGES = ("Kor", "Jpn", "Chn")
LANGUAGES = ("Kor", "Eng", "Jpn", "Chn")


def main() -> int:
    for language in LANGUAGES:
        source = LANG / "src" / f"{language}.ini"
        lines = source.read_text(encoding="utf-8").splitlines()
        while lines and lines[0].startswith(";"):
            lines.pop(0)  # the source's own header comment
        header = [f"; Written by scripts/make-language-files.py from assets/lang/src/{language}.ini; edit that file."]
        text = "\r\n".join(header + lines) + "\r\n"
        if language in UTF16_LANGUAGES:
            data = b"\xff\xfe" + text.encode("utf-16-le")
        else:
            data = text.encode("utf-8")
        target = LANG / f"BrisaPlayer.{language}.ini"
        target.write_bytes(data)
        print(f"{target.relative_to(LANG.parent.parent)}: {len(data)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
