#!/usr/bin/python3
"""Reads an exported workbook back and compares it with the list it was written from.

Usage: export_read.py WORKBOOK EXPECTED [SHEET_ROWS]

EXPECTED holds the list: b"QXP1", the row count (u32 LE), then for each row nine cells, each
a u32 LE byte length and the raw bytes. The cell texts are taken through the readers that
spreadsheet users have at hand (xlrd for .xls, openpyxl for .xlsx) and checked against the
layout the export promises: A1 empty, titles in B1..I1, list row i in sheet row i + 2, list
column c in column c, every written cell a text cell with the number format "@", empty texts
blank cells with "@", nothing else, further sheets "Sheet2", ... when a sheet is full.

For .xls the compound file and the BIFF8 records are also parsed here: FAT/DIFAT chains,
sheet offsets, INDEX/DBCELL offsets, the shared string table with its CONTINUE records and
the EXTSST buckets.

Prints "OK" and facts about the file, or the mismatches; exit status 0 only for OK.
"""

import math
import re
import struct
import sys

TITLES = ["序号", "名称", "路径", "大小", "创建时间", "修改时间", "是否存在重复", "md5"]
COLUMNS = 9
MAX_UNITS = 32767


class Mismatch(Exception):
    pass


def read_expected(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"QXP1":
        raise SystemExit("bad expected file")
    (count,) = struct.unpack_from("<I", data, 4)
    pos = 8
    rows = []
    for _ in range(count):
        row = []
        for _ in range(COLUMNS):
            (n,) = struct.unpack_from("<I", data, pos)
            pos += 4
            row.append(data[pos:pos + n])
            pos += n
        rows.append(row)
    return rows


def cell_text(raw):
    """The text a cell must show: one U+FFFD per byte that is not part of valid UTF-8."""
    text = raw.decode("utf-8", "surrogateescape")
    text = "".join("\ufffd" if "\udc80" <= ch <= "\udcff" else ch for ch in text)
    units = 0
    for i, ch in enumerate(text):
        units += 2 if ord(ch) > 0xFFFF else 1
        if units > MAX_UNITS:
            return text[:i]
    return text


def expected_sheets(rows, sheet_rows):
    per = sheet_rows - 1
    count = max(1, math.ceil(len(rows) / per))
    sheets = []
    for s in range(count):
        cells = {(0, c): TITLES[c - 1] for c in range(1, COLUMNS)}
        for i, row in enumerate(rows[s * per:(s + 1) * per]):
            for c in range(COLUMNS):
                cells[(i + 1, c)] = cell_text(row[c])
        sheets.append(("Sheet%d" % (s + 1), cells))
    return sheets


def compare(expected, actual, problems):
    """actual: list of (name, {(row, col): (kind, text, number_format)}); kind 'text'/'blank'."""
    if [n for n, _ in expected] != [n for n, _ in actual]:
        problems.append("sheets %r, expected %r" % ([n for n, _ in actual], [n for n, _ in expected]))
        return
    for (name, want), (_, got) in zip(expected, actual):
        for key in sorted(set(want) | set(got)):
            where = "%s!%s%d" % (name, chr(65 + key[1]), key[0] + 1)
            if key not in got:
                problems.append("%s missing, expected %r" % (where, want[key]))
            elif key not in want:
                problems.append("%s should not be written, holds %r" % (where, got[key]))
            else:
                kind, text, fmt = got[key]
                wanted_kind = "text" if want[key] else "blank"
                if kind != wanted_kind or text != want[key] or fmt != "@":
                    problems.append("%s is %s %r format %r, expected %s %r format '@'"
                                    % (where, kind, text, fmt, wanted_kind, want[key]))
            if len(problems) > 20:
                return


# ---------------------------------------------------------------------------------------------
# .xls: compound file and BIFF8 structure

FREESECT, ENDOFCHAIN, FATSECT, DIFSECT = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFC


def check(cond, message):
    if not cond:
        raise Mismatch(message)


def parse_cfb(data):
    check(data[:8] == bytes.fromhex("D0CF11E0A1B11AE1"), "signature")
    minor, major, order, shift, mini_shift = struct.unpack_from("<5H", data, 24)
    check(major == 3 and order == 0xFFFE and shift == 9 and mini_shift == 6, "header versions")
    (ndir, nfat, first_dir, _, cutoff, first_mini, nmini, first_difat, ndifat) = \
        struct.unpack_from("<9I", data, 40)
    check(ndir == 0 and cutoff == 4096, "directory sector count / cutoff")
    check((len(data) - 512) % 512 == 0, "file size is not whole sectors")
    nsect = (len(data) - 512) // 512
    sector = lambda i: data[512 + i * 512:512 + (i + 1) * 512]
    used = {}

    def claim(i, what):
        check(0 <= i < nsect, "%s points at sector %d beyond the file" % (what, i))
        check(i not in used, "sector %d used by %s and %s" % (i, used.get(i), what))
        used[i] = what

    difat = list(struct.unpack_from("<109I", data, 76))
    difat_sectors = []
    nxt = first_difat
    while nxt != ENDOFCHAIN:
        check(len(difat_sectors) < ndifat, "DIFAT chain longer than its count")
        claim(nxt, "DIFAT")
        difat_sectors.append(nxt)
        entries = struct.unpack_from("<128I", sector(nxt))
        difat.extend(entries[:127])
        nxt = entries[127]
    check(len(difat_sectors) == ndifat, "DIFAT count %d, chain %d" % (ndifat, len(difat_sectors)))
    fat_ids = difat[:nfat]
    check(all(x == FREESECT for x in difat[nfat:]), "DIFAT entries past the FAT count")
    for i in fat_ids:
        claim(i, "FAT")
    fat = []
    for i in fat_ids:
        fat.extend(struct.unpack_from("<128I", sector(i)))
    check(len(fat) >= nsect, "FAT shorter than the file")
    check(all(x == FREESECT for x in fat[nsect:]), "FAT entries past the end of the file")
    for i in fat_ids:
        check(fat[i] == FATSECT, "FAT sector %d not marked FATSECT" % i)
    for i in difat_sectors:
        check(fat[i] == DIFSECT, "DIFAT sector %d not marked DIFSECT" % i)

    def chain(start, what):
        out = []
        while start != ENDOFCHAIN:
            claim(start, what)
            out.append(start)
            start = fat[start]
        return out

    dir_bytes = b"".join(sector(i) for i in chain(first_dir, "directory"))
    entries = []
    for off in range(0, len(dir_bytes), 128):
        e = dir_bytes[off:off + 128]
        nlen = struct.unpack_from("<H", e, 64)[0]
        name = e[:max(0, nlen - 2)].decode("utf-16-le")
        etype = e[66]
        left, right, child = struct.unpack_from("<3I", e, 68)
        start, size = struct.unpack_from("<IQ", e, 116)
        entries.append((name, etype, left, right, child, start, size))
    check(entries[0][0] == "Root Entry" and entries[0][1] == 5, "root entry")
    check(entries[0][5] == ENDOFCHAIN and entries[0][6] == 0, "root has a mini stream")
    check(first_mini == ENDOFCHAIN and nmini == 0, "mini FAT present")
    book = entries[entries[0][4]]
    check(book[0] == "Workbook" and book[1] == 2, "root child is not the Workbook stream")
    check(book[6] >= 4096, "Workbook stream below the mini-stream cutoff")
    sectors = chain(book[5], "Workbook")
    check(len(sectors) == math.ceil(book[6] / 512), "Workbook chain length")
    for i in range(nsect):
        check(i in used or fat[i] == FREESECT, "sector %d neither used nor free" % i)
    stream = b"".join(sector(i) for i in sectors)[:book[6]]
    return stream, {"fat": nfat, "difat": ndifat}


def records(stream, pos):
    while True:
        rtype, size = struct.unpack_from("<HH", stream, pos)
        check(size <= 8224, "record 0x%04X at %d longer than 8224" % (rtype, pos))
        yield pos, rtype, stream[pos + 4:pos + 4 + size]
        pos += 4 + size
        if rtype == 0x000A:
            return


def parse_sst(chunks):
    """chunks: [(stream position of record, data)] of SST and its CONTINUEs."""
    strings, starts = [], []
    ci, off = 0, 8
    total, unique = struct.unpack_from("<II", chunks[0][1], 0)

    def need(n):
        nonlocal ci, off
        if off + n > len(chunks[ci][1]):
            check(off == len(chunks[ci][1]), "string header split across records")
            ci, off = ci + 1, 0
            check(ci < len(chunks), "SST ends early")

    for _ in range(unique):
        need(3)
        starts.append((chunks[ci][0] + 4 + off, off + 4))
        cch, flags = struct.unpack_from("<HB", chunks[ci][1], off)
        check(flags & ~1 == 0, "rich or phonetic string")
        off += 3
        units = []
        while len(units) < cch:
            data = chunks[ci][1]
            if off == len(data):
                ci, off = ci + 1, 0
                check(ci < len(chunks), "SST ends inside a string")
                flags = chunks[ci][1][0]
                check(flags in (0, 1), "CONTINUE does not start with the flag byte")
                off = 1
                data = chunks[ci][1]
            size = 2 if flags & 1 else 1
            take = min(cch - len(units), (len(data) - off) // size)
            check(take > 0, "character split across records")
            if size == 2:
                units.extend(struct.unpack_from("<%dH" % take, data, off))
            else:
                units.extend(data[off:off + take])
            off += take * size
        strings.append(struct.pack("<%dH" % cch, *units).decode("utf-16-le"))
    check(ci == len(chunks) - 1 and off == len(chunks[ci][1]), "bytes left over in the SST")
    return total, strings, starts


def check_globals(stream):
    recs = list(records(stream, 0))
    check(recs[0][1] == 0x0809 and struct.unpack_from("<HH", recs[0][2])[1] == 5, "globals BOF")
    sheets, xfs, fonts, chunks, extsst = [], [], 0, [], None
    for i, (pos, rtype, data) in enumerate(recs):
        if rtype == 0x0085:
            (ofs,) = struct.unpack_from("<I", data)
            sheets.append((ofs, data[6:6 + data[4]].decode("latin-1")))
        elif rtype == 0x00E0:
            xfs.append(struct.unpack_from("<HHH", data))
        elif rtype == 0x0031:
            fonts += 1
        elif rtype == 0x0042:
            check(struct.unpack_from("<H", data)[0] == 1200, "code page")
        elif rtype == 0x00FC:
            chunks = [(pos, data)]
            for pos2, rtype2, data2 in recs[i + 1:]:
                if rtype2 != 0x003C:
                    break
                chunks.append((pos2, data2))
        elif rtype == 0x00FF:
            extsst = data
    check(fonts >= 5, "fewer than five fonts")
    check(len(xfs) >= 16 and all(x[2] & 4 for x in xfs[:15]), "the first 15 XFs are not styles")
    total, strings, starts = parse_sst(chunks)
    dsst = struct.unpack_from("<H", extsst)[0]
    check(dsst >= 8, "EXTSST bucket size")
    buckets = (len(extsst) - 2) // 8
    check(buckets == min(math.ceil(len(strings) / dsst), 1027), "EXTSST bucket count")
    for b in range(buckets):
        ib, cb = struct.unpack_from("<IH", extsst, 2 + 8 * b)
        check((ib, cb) == starts[b * dsst], "EXTSST bucket %d" % b)
    return sheets, xfs, strings, total


def check_sheet(stream, start, xfs, strings):
    recs = list(records(stream, start))
    at = {pos: (rtype, data) for pos, rtype, data in recs}
    check(recs[0][1] == 0x0809 and struct.unpack_from("<HH", recs[0][2])[1] == 0x10, "sheet BOF")
    check(recs[1][1] == 0x020B, "INDEX does not follow BOF")
    index = recs[1][2]
    _, _, rw_mac, ib_xf = struct.unpack_from("<4I", index)
    check(at.get(ib_xf, (0,))[0] == 0x0055, "INDEX does not point at DEFCOLWIDTH")
    rows_seen = 0
    refs = 0
    for k in range((len(index) - 16) // 4):
        (db,) = struct.unpack_from("<I", index, 16 + 4 * k)
        check(at.get(db, (0,))[0] == 0x00D7, "INDEX entry %d does not point at a DBCELL" % k)
        data = at[db][1]
        (back,) = struct.unpack_from("<I", data)
        first_row = db - back
        check(at.get(first_row, (0,))[0] == 0x0208, "DBCELL does not point back at a ROW")
        cell = first_row + 20
        for j in range((len(data) - 4) // 2):
            cell += struct.unpack_from("<H", data, 4 + 2 * j)[0]
            rtype, cdata = at.get(cell, (0, b""))
            check(rtype in (0x00FD, 0x0201), "DBCELL offset %d of block %d misses a cell" % (j, k))
            check(struct.unpack_from("<H", cdata)[0] == k * 32 + j, "DBCELL row order")
            rows_seen += 1
    for _, rtype, data in recs:
        if rtype in (0x00FD, 0x0201):
            xf = xfs[struct.unpack_from("<H", data, 4)[0]]
            check(xf[1] == 49 and not xf[2] & 4, "cell XF is not a cell XF with format 49")
        if rtype == 0x00FD:
            check(struct.unpack_from("<I", data, 6)[0] < len(strings), "string index")
            refs += 1
    check(rows_seen == rw_mac, "INDEX rows %d, DBCELL rows %d" % (rw_mac, rows_seen))
    return refs


def read_xls(path, facts):
    import xlrd
    with open(path, "rb") as f:
        data = f.read()
    stream, cfb = parse_cfb(data)
    facts.update(cfb)
    sheets, xfs, strings, total = check_globals(stream)
    refs = 0
    for start, _ in sheets:
        refs += check_sheet(stream, start, xfs, strings)
    check(refs == total, "SST total %d, LABELSST records %d" % (total, refs))
    facts["strings"] = len(strings)

    book = xlrd.open_workbook(path, formatting_info=True)
    result = []
    for sh in book.sheets():
        cells = {}
        for r in range(sh.nrows):
            for c in range(sh.ncols):
                kind = sh.cell_type(r, c)
                if kind == xlrd.XL_CELL_EMPTY:
                    continue
                xf = book.xf_list[sh.cell_xf_index(r, c)]
                fmt = book.format_map[xf.format_key].format_str
                name = {xlrd.XL_CELL_TEXT: "text", xlrd.XL_CELL_BLANK: "blank"}.get(kind, kind)
                cells[(r, c)] = (name, sh.cell_value(r, c), fmt)
        result.append((sh.name, cells))
    return result


# ---------------------------------------------------------------------------------------------
# .xlsx

ESCAPE = re.compile("_x([0-9A-Fa-f]{4})_")


def read_xlsx(path, facts):
    import openpyxl
    book = openpyxl.load_workbook(path)
    result = []
    for ws in book.worksheets:
        cells = {}
        for (r, c), cell in ws._cells.items():
            if cell.value is None:
                cells[(r - 1, c - 1)] = ("blank", "", cell.number_format)
            elif cell.data_type == "s":
                # The file format's escapes: a reader of the file decodes every _xHHHH_.
                text = ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), cell.value)
                cells[(r - 1, c - 1)] = ("text", text, cell.number_format)
            else:
                cells[(r - 1, c - 1)] = (cell.data_type, cell.value, cell.number_format)
        result.append((ws.title, cells))
    return result


def main():
    path, expected_path = sys.argv[1], sys.argv[2]
    xlsx = path.lower().endswith(".xlsx")
    sheet_rows = int(sys.argv[3]) if len(sys.argv) > 3 else (1048576 if xlsx else 65536)
    expected = expected_sheets(read_expected(expected_path), sheet_rows)
    facts = {}
    try:
        actual = read_xlsx(path, facts) if xlsx else read_xls(path, facts)
    except Mismatch as e:
        print("structure: %s" % e)
        return 1
    problems = []
    compare(expected, actual, problems)
    if problems:
        print("\n".join(problems))
        return 1
    facts["sheets"] = len(actual)
    print("OK " + " ".join("%s=%s" % kv for kv in sorted(facts.items())))
    return 0


if __name__ == "__main__":
    sys.exit(main())
