#!/usr/bin/python3
"""An independent dBASE reader and writer for the interop tests, built on python3-dbf.

  dbf_peer.py dump <table>           prints the table: one line of field names, then one
                                     line per record: "D" or "L" (deleted / live) and each
                                     field's text as hex of its UTF-8 bytes, space-separated
  dbf_peer.py write <table> <spec>   writes a dBASE III table; <spec> is a file of lines:
                                     first "NAME C(n); ...", then one line per record of
                                     tab-separated texts, a leading "*" marks it deleted

Our tables carry no language driver byte, so the copy handed to python3-dbf is marked
GBK (cp936) first; the original file is never touched.
"""
import os
import shutil
import sys
import tempfile

import dbf

GBK_LANGUAGE_DRIVER = 0x4D


def dump(path):
    with tempfile.TemporaryDirectory() as tmp:
        copy = os.path.join(tmp, "t.dbf")
        shutil.copyfile(path, copy)
        with open(copy, "r+b") as f:
            f.seek(29)
            f.write(bytes([GBK_LANGUAGE_DRIVER]))
        table = dbf.Table(copy)
        table.open(dbf.READ_ONLY)
        try:
            print(" ".join(table.field_names))
            for record in table:
                values = [record[name].encode("utf-8").hex() or "-" for name in table.field_names]
                print(("D" if dbf.is_deleted(record) else "L") + " " + " ".join(values))
        finally:
            table.close()


def write(path, spec_path):
    with open(spec_path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "t.dbf")
        table = dbf.Table(out, lines[0], dbf_type="db3", codepage="cp936")
        table.open(dbf.READ_WRITE)
        for line in lines[1:]:
            if not line:
                continue
            deleted = line.startswith("*")
            table.append(tuple((line[1:] if deleted else line).split("\t")))
            if deleted:
                dbf.delete(table[-1])
        table.close()
        shutil.copyfile(out, path)


if __name__ == "__main__":
    if sys.argv[1] == "dump":
        dump(sys.argv[2])
    elif sys.argv[1] == "write":
        write(sys.argv[2], sys.argv[3])
    else:
        sys.exit(2)
