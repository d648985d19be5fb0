#!/usr/bin/env python3
"""Makes a renamed copy of an OpenType font whose default figures are its lining figures.

EB Garamond draws old-style figures unless the text asks for its 'lnum' feature, and Qt 6.4 offers no way to
ask: an identifier such as KLT1001 would read as small, rising and falling figures. This copy maps the
character codes of the figures (and of every other glyph the font's 'lnum' feature replaces) straight to the
lining glyphs, so any program shows them without asking for a feature.

The copy is a Modified Version under the SIL Open Font License: it gets a family name of its own, keeps the
copyright and licence records of the original, and says in its description what was changed.

    liningfigures.py SOURCE TARGET FAMILY
"""

import sys

from fontTools.ttLib import TTFont


def lining_substitutions(font):
    """The glyph replacements of the font's 'lnum' feature, from its single substitutions."""
    gsub = font["GSUB"].table
    lookups = set()
    for record in gsub.FeatureList.FeatureRecord:
        if record.FeatureTag == "lnum":
            lookups.update(record.Feature.LookupListIndex)
    mapping = {}
    for index in sorted(lookups):
        lookup = gsub.LookupList.Lookup[index]
        for table in lookup.SubTable:
            if lookup.LookupType == 7:  # an extension holds the real subtable
                table = table.ExtSubTable
            if getattr(table, "mapping", None):
                mapping.update(table.mapping)
    return mapping


def rename(font, family):
    """Gives the font the family name family, keeping its style, in the name table and the CFF header."""
    names = font["name"]
    style = names.getDebugName(17) or names.getDebugName(2) or "Regular"
    if style.split()[0].isdigit():  # "12 Regular": the optical size is not part of the style
        style = " ".join(style.split()[1:]) or "Regular"
    postscript = family.replace(" ", "") + "-" + style.replace(" ", "")
    full = family + " " + style
    version = names.getDebugName(5) or ""
    original = names.getDebugName(4) or ""
    for name_id in (1, 3, 4, 6, 16, 17, 18):
        names.removeNames(nameID=name_id)
    names.setName(family, 1, 3, 1, 0x409)
    names.setName(style, 2, 3, 1, 0x409)
    names.setName(version.strip() + ";" + postscript, 3, 3, 1, 0x409)
    names.setName(full, 4, 3, 1, 0x409)
    names.setName(postscript, 6, 3, 1, 0x409)
    names.setName(family, 16, 3, 1, 0x409)
    names.setName(style, 17, 3, 1, 0x409)
    names.setName(
        "Modified from " + original + ": the lining figures are the default figures, and the font is renamed "
        "as the SIL Open Font License asks of a Modified Version.", 10, 3, 1, 0x409)
    # Only the Windows records are kept: they are the ones programs read, and no stale Macintosh name remains.
    names.names = [n for n in names.names if n.platformID == 3]
    if "CFF " in font:
        cff = font["CFF "].cff
        cff.fontNames = [postscript]
        top = cff.topDictIndex[0]
        top.FamilyName = family
        top.FullName = full


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    source, target, family = argv[1:]
    font = TTFont(source)
    mapping = lining_substitutions(font)
    missing = [d for d in "0123456789" if font.getBestCmap().get(ord(d)) not in mapping]
    if missing:
        sys.stderr.write("%s: no lining form of the figures %s\n" % (source, "".join(missing)))
        return 1
    for table in font["cmap"].tables:
        for code, glyph in list(table.cmap.items()):
            if glyph in mapping:
                table.cmap[code] = mapping[glyph]
    rename(font, family)
    font.save(target)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
