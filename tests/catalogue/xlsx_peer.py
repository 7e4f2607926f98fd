#!/usr/bin/python3
"""An independent reader of .xlsx workbooks for the export tests, on the standard library.

  xlsx_peer.py dump <workbook>   checks that the file is a whole zip archive, then prints
                                 for every worksheet, in order, a line "sheet <name>" and
                                 one line per row of its cells' texts, tab-separated
                                 (inline or shared strings, numbers as written)
"""
import sys
import xml.etree.ElementTree as ET
import zipfile

MAIN = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
RELS = "{http://schemas.openxmlformats.org/officeDocument/2006/relationships}"


def text_of(node):
    return "".join(t.text or "" for t in node.iter(MAIN + "t"))


def column_of(reference):
    """0-based column of a cell reference such as "B2"."""
    number = 0
    for letter in reference:
        if not letter.isalpha():
            break
        number = number * 26 + ord(letter.upper()) - ord("A") + 1
    return number - 1


def dump(path):
    with zipfile.ZipFile(path) as book:
        bad = book.testzip()
        if bad is not None:
            sys.exit("damaged member " + bad)
        shared = []
        if "xl/sharedStrings.xml" in book.namelist():
            root = ET.fromstring(book.read("xl/sharedStrings.xml"))
            shared = [text_of(si) for si in root.iter(MAIN + "si")]
        rels = ET.fromstring(book.read("xl/_rels/workbook.xml.rels"))
        targets = {r.get("Id"): r.get("Target") for r in rels}
        workbook = ET.fromstring(book.read("xl/workbook.xml"))
        for sheet in workbook.iter(MAIN + "sheet"):
            print("sheet " + sheet.get("name"))
            xml = ET.fromstring(book.read("xl/" + targets[sheet.get(RELS + "id")]))
            for row in xml.iter(MAIN + "row"):
                cells = []
                for c in row.iter(MAIN + "c"):
                    kind = c.get("t")
                    value = c.find(MAIN + "v")
                    if kind == "inlineStr":
                        text = text_of(c)
                    elif kind == "s":
                        text = shared[int(value.text)]
                    else:
                        text = "" if value is None else value.text
                    # a cell left out is an empty one: place each by its reference
                    while len(cells) < column_of(c.get("r")):
                        cells.append("")
                    cells.append(text)
                print("\t".join(cells))


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] != "dump":
        sys.exit(__doc__)
    dump(sys.argv[2])
