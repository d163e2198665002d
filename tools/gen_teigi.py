#!/usr/bin/env python3
"""Generate the table definition files data/teigi_*.txt from data/schema/tables.txt.

Run from the repository root:  python3 tools/gen_teigi.py

The source format is described in data/schema/README.md. The outputs are
comma-separated Shift_JIS (code page 932) files with CR LF line ends, one row
per schema object, read by the schema operation TableAlter:

    ParentID,Name,id,Object Type,Extra1,Extra2,Extra3

Every run checks the definitions before writing anything (unique ids, unique
field names per table, index fields that are fields of their table, positive
text sizes) and stops with a message on the first problem.
"""

import os
import re
import sys
import unicodedata

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE = os.path.join(ROOT, "data", "schema", "tables.txt")
OUT_DIR = os.path.join(ROOT, "data")

HEADER = ["ParentID", "Name", "id", "Object Type", "Extra1", "Extra2", "Extra3"]

OT_TABLE = "ﾃｰﾌﾞﾙ"
OT_FIELD = "ﾌｨｰﾙﾄﾞ"
OT_INDEX = "ｲﾝﾃﾞｯｸｽ"
OT_PROPERTY = "ﾌﾟﾛﾊﾟﾃｨ"
OT_INDEX_FIELD = "ｲﾝﾃﾞｯｸｽ ﾌｨｰﾙﾄﾞ"

TYPE_NAMES = {
    "text": "ﾃｷｽﾄ型",
    "long": "数値型 (長整数)",
    "integer": "数値型 (整数)",
    "byte": "数値型 (ﾊﾞｲﾄ)",
    "single": "数値型 (単精度浮動小数点)",
    "double": "数値型 (倍精度浮動小数点)",
    "memo": "ﾒﾓ型",
}

# The largest text field the database engine accepts.
MAX_TEXT_SIZE = 255

# Prefix letter -> database; "bare" database words -> database.
PREFIX_DB = {"T": "this", "D": "data", "C": "code"}
BARE_DB = ("this", "data", "code")

# Output files: (file name, database, leave out objects marked new=<version>)
OUTPUTS = [
    ("teigi_t72.txt", "this", None),
    ("teigi_d72.txt", "data", None),
    ("teigi_t60.txt", "this", "7.2"),
    ("teigi_c72.txt", "code", None),
]


class DefinitionError(Exception):
    pass


class Field:
    def __init__(self, name, kind, size, new, line):
        self.name = name
        self.kind = kind
        self.size = size
        self.new = new
        self.line = line


class Index:
    def __init__(self, name, fields, primary, line):
        self.name = name
        self.fields = fields
        self.primary = primary
        self.line = line


class Table:
    def __init__(self, base, placements, key, new, line):
        self.base = base
        self.placements = placements  # list of (database, full table name)
        self.key = key
        self.new = new
        self.line = line
        self.fields = []
        self.indexes = []


# ---------------------------------------------------------------------------
# Reading the source
# ---------------------------------------------------------------------------

def expand_name(name, line):
    """Expand one brace group in a field name; names without braces stay."""
    m = re.search(r"\{([^{}]*)\}", name)
    if not m:
        if "{" in name or "}" in name:
            raise DefinitionError("line %d: unbalanced braces in %r" % (line, name))
        return [name]
    head, body, tail = name[:m.start()], m.group(1), name[m.end():]
    if "{" in tail or "}" in tail:
        raise DefinitionError("line %d: only one brace group per name: %r" % (line, name))

    def numbers(rng):
        r = re.fullmatch(r"(\d+)\.\.(\d+)", rng)
        if not r:
            return None
        a, b = r.group(1), r.group(2)
        width = len(a) if a.startswith("0") and len(a) > 1 else 0
        lo, hi = int(a), int(b)
        if lo > hi:
            raise DefinitionError("line %d: empty range in %r" % (line, name))
        return [str(n).zfill(width) for n in range(lo, hi + 1)]

    if body.startswith("pairs:"):
        seq = numbers(body[len("pairs:"):])
        if seq is None:
            raise DefinitionError("line %d: bad pairs range in %r" % (line, name))
        parts = [seq[i] + seq[k] for i in range(len(seq)) for k in range(i + 1, len(seq))]
    else:
        parts = numbers(body)
        if parts is None:
            parts = body.split(",")
            if len(parts) < 2 or any(p == "" for p in parts):
                raise DefinitionError("line %d: bad brace group in %r" % (line, name))
    return [head + p + tail for p in parts]


def parse_options(words, allowed, line):
    opts = {}
    for w in words:
        if "=" not in w:
            raise DefinitionError("line %d: expected name=value, got %r" % (line, w))
        k, v = w.split("=", 1)
        if k not in allowed:
            raise DefinitionError("line %d: unknown option %r" % (line, k))
        if k in opts:
            raise DefinitionError("line %d: option %r given twice" % (line, k))
        opts[k] = v
    return opts


def parse_table_line(words, line):
    if len(words) < 2:
        raise DefinitionError("line %d: table line needs a name" % line)
    base = words[1]
    opts = parse_options(words[2:], ("prefixes", "bare", "key", "new"), line)
    if ("prefixes" in opts) == ("bare" in opts):
        raise DefinitionError("line %d: give exactly one of prefixes= or bare=" % line)
    placements = []
    if "prefixes" in opts:
        for p in opts["prefixes"].split(","):
            if p not in PREFIX_DB:
                raise DefinitionError("line %d: unknown prefix %r" % (line, p))
            placements.append((PREFIX_DB[p], p + base))
    else:
        for db in opts["bare"].split(","):
            if db not in BARE_DB:
                raise DefinitionError("line %d: unknown database %r" % (line, db))
            placements.append((db, base))
    if len(set(db for db, _ in placements)) != len(placements):
        raise DefinitionError("line %d: a database is named twice" % line)
    key = opts["key"].split(",") if "key" in opts else []
    if any(k == "" for k in key):
        raise DefinitionError("line %d: empty key field" % line)
    return Table(base, placements, key, opts.get("new"), line)


def parse_field_line(words, line):
    name, kind = words[0], words[1] if len(words) > 1 else None
    if kind not in TYPE_NAMES:
        raise DefinitionError("line %d: unknown type %r for %r" % (line, kind, name))
    rest = words[2:]
    size = None
    if kind == "text":
        if not rest or not re.fullmatch(r"\d+", rest[0]):
            raise DefinitionError("line %d: text field %r needs a size" % (line, name))
        size = int(rest[0])
        rest = rest[1:]
    opts = parse_options(rest, ("new",), line)
    return [Field(n, kind, size, opts.get("new"), line) for n in expand_name(name, line)]


def read_source(path):
    tables = []
    current = None
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            text = raw.rstrip("\r\n")
            stripped = text.strip()
            if not stripped or stripped.startswith("#"):
                continue
            words = stripped.split()
            indented = text[0] in " \t"
            if not indented:
                if words[0] != "table":
                    raise DefinitionError("line %d: expected a table line" % number)
                current = parse_table_line(words, number)
                tables.append(current)
                continue
            if current is None:
                raise DefinitionError("line %d: field before the first table" % number)
            if words[0] == "index":
                if len(words) != 3:
                    raise DefinitionError("line %d: index line is: index <name> <f1,f2,...>" % number)
                current.indexes.append(Index(words[1], words[2].split(","), False, number))
            else:
                current.fields.extend(parse_field_line(words, number))
    for t in tables:
        if t.key:
            t.indexes.insert(0, Index("PrimaryKey", list(t.key), True, t.line))
    return tables


# ---------------------------------------------------------------------------
# Checks
# ---------------------------------------------------------------------------

def folded(name):
    """The form under which the engine resolves a name (width and case ignored)."""
    return unicodedata.normalize("NFKC", name).casefold()


def check_encodable(text, where):
    try:
        back = text.encode("cp932").decode("cp932")
    except UnicodeEncodeError:
        raise DefinitionError("%s: %r cannot be written in Shift_JIS" % (where, text))
    if back != text:
        raise DefinitionError("%s: %r does not survive Shift_JIS" % (where, text))
    if any(c in text for c in '",\r\n'):
        raise DefinitionError("%s: %r holds a quote, comma or line break" % (where, text))


def check_table(name, fields, indexes, where):
    exact, loose = set(), {}
    for f in fields:
        w = "%s, line %d" % (where, f.line)
        check_encodable(f.name, w)
        if f.name in exact:
            raise DefinitionError("%s: field %r twice in %s" % (w, f.name, name))
        exact.add(f.name)
        if folded(f.name) in loose:
            raise DefinitionError("%s: field %r and %r of %s are the same name to the engine"
                                  % (w, loose[folded(f.name)], f.name, name))
        loose[folded(f.name)] = f.name
        if f.kind == "text":
            if not isinstance(f.size, int) or f.size <= 0 or f.size > MAX_TEXT_SIZE:
                raise DefinitionError("%s: text field %r of %s has size %r"
                                      % (w, f.name, name, f.size))
        elif f.size is not None:
            raise DefinitionError("%s: non-text field %r has a size" % (w, f.name))
    if not fields:
        raise DefinitionError("%s: table %s has no fields" % (where, name))
    names = set()
    primaries = 0
    for ix in indexes:
        w = "%s, line %d" % (where, ix.line)
        check_encodable(ix.name, w)
        if ix.name in names:
            raise DefinitionError("%s: index %r twice in %s" % (w, ix.name, name))
        names.add(ix.name)
        primaries += ix.primary
        if not ix.fields or len(set(ix.fields)) != len(ix.fields):
            raise DefinitionError("%s: index %r of %s has empty or repeated fields"
                                  % (w, ix.name, name))
        for fn in ix.fields:
            if fn not in exact:
                raise DefinitionError("%s: index %r of %s names %r, which is not a field"
                                      % (w, ix.name, name, fn))
    if primaries > 1:
        raise DefinitionError("%s: %s has more than one primary key" % (where, name))


# ---------------------------------------------------------------------------
# Writing the definition files
# ---------------------------------------------------------------------------

def build_rows(tables, database, leave_out):
    """Rows of one definition file, ids numbered from 1 in row order."""
    rows = []
    seen_tables = {}
    next_id = [0]

    def new_id():
        next_id[0] += 1
        return next_id[0]

    for t in tables:
        if leave_out is not None and t.new == leave_out:
            continue
        for db, full in t.placements:
            if db != database:
                continue
            where = "%s (table at line %d)" % (full, t.line)
            check_encodable(full, where)
            if folded(full) in seen_tables:
                raise DefinitionError("%s: table name clashes with %s"
                                      % (where, seen_tables[folded(full)]))
            seen_tables[folded(full)] = full
            fields = [f for f in t.fields if leave_out is None or f.new != leave_out]
            indexes = t.indexes
            check_table(full, fields, indexes, "tables.txt")
            tid = new_id()
            rows.append([0, full, tid, OT_TABLE, "", "", ""])
            for f in fields:
                extra3 = str(f.size) if f.kind == "text" else "-"
                rows.append([tid, f.name, new_id(), OT_FIELD, "", TYPE_NAMES[f.kind], extra3])
            for ix in indexes:
                iid = new_id()
                rows.append([tid, ix.name, iid, OT_INDEX, "", "", ""])
                flag = "True" if ix.primary else "False"
                for label, value in (("名前:", ix.name), ("主ｷｰ:", flag),
                                     ("Null無視:", "False"), ("Required:", flag)):
                    rows.append([iid, label, new_id(), OT_PROPERTY, value, "", ""])
                for fn in ix.fields:
                    rows.append([iid, fn, new_id(), OT_INDEX_FIELD, "", "", ""])
    return rows


def check_rows(rows, file_name):
    """Whole-file checks on the rows exactly as they will be written."""
    ids = [r[2] for r in rows]
    if len(ids) != len(set(ids)):
        raise DefinitionError("%s: duplicate ids" % file_name)
    if any(not isinstance(i, int) or i <= 0 for i in ids):
        raise DefinitionError("%s: ids must be positive integers" % file_name)
    by_id = {r[2]: r for r in rows}
    fields_of = {}
    for r in rows:
        if r[3] == OT_FIELD:
            fields_of.setdefault(r[0], []).append(r[1])
    for tid, names in fields_of.items():
        if len(names) != len(set(names)):
            raise DefinitionError("%s: repeated field in table %s" % (file_name, by_id[tid][1]))
    for r in rows:
        kind, parent = r[3], r[0]
        if kind == OT_TABLE:
            if parent != 0:
                raise DefinitionError("%s: table %s has a parent" % (file_name, r[1]))
            continue
        if parent not in by_id:
            raise DefinitionError("%s: row %d has an unknown parent" % (file_name, r[2]))
        owner = by_id[parent]
        if kind in (OT_FIELD, OT_INDEX) and owner[3] != OT_TABLE:
            raise DefinitionError("%s: row %d does not belong to a table" % (file_name, r[2]))
        if kind in (OT_PROPERTY, OT_INDEX_FIELD) and owner[3] != OT_INDEX:
            raise DefinitionError("%s: row %d does not belong to an index" % (file_name, r[2]))
        if kind == OT_FIELD and r[5] == TYPE_NAMES["text"]:
            if not re.fullmatch(r"[1-9]\d*", r[6]):
                raise DefinitionError("%s: text field %s has size %r" % (file_name, r[1], r[6]))
        if kind == OT_INDEX_FIELD and r[1] not in fields_of.get(owner[0], []):
            raise DefinitionError("%s: index field %s is not a field of %s"
                                  % (file_name, r[1], by_id[owner[0]][1]))


def csv_value(value):
    text = str(value)
    if "," in text or '"' in text:
        return '"' + text.replace('"', '""') + '"'
    return text


def render(rows):
    lines = [",".join(HEADER)]
    for r in rows:
        lines.append(",".join(csv_value(v) for v in r))
    return ("\r\n".join(lines) + "\r\n").encode("cp932")


def main():
    try:
        tables = read_source(SOURCE)
        bases = {}
        for t in tables:
            if folded(t.base) in bases:
                raise DefinitionError("line %d: table %s is defined twice (line %d)"
                                      % (t.line, t.base, bases[folded(t.base)]))
            bases[folded(t.base)] = t.line
        outputs = []
        for file_name, database, leave_out in OUTPUTS:
            rows = build_rows(tables, database, leave_out)
            check_rows(rows, file_name)
            outputs.append((file_name, rows))
    except DefinitionError as e:
        sys.stderr.write("gen_teigi: %s\n" % e)
        return 1
    for file_name, rows in outputs:
        data = render(rows)
        path = os.path.join(OUT_DIR, file_name)
        with open(path, "wb") as f:
            f.write(data)
        n_tables = sum(1 for r in rows if r[3] == OT_TABLE)
        n_fields = sum(1 for r in rows if r[3] == OT_FIELD)
        print("%s: %d tables, %d fields, %d rows" % (file_name, n_tables, n_fields, len(rows)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
