"""Checks JSON objects against the field tables of docs/json.md.

usage: check_json_fields.py DOC JSON CHECK...
where each CHECK is SECTION=PATH: the objects PATH selects in the JSON
document ("." the document, "[0]" an element, "formats[]" every element of a
member, chained: ".formats[]") must hold every field of the table marked
"<!-- fields: SECTION -->" that is not optional, and no field the table lacks;
null only where the table allows it.
"""
import json
import re
import sys


def tables(doc):
    out, current = {}, None
    for line in open(doc, encoding="utf-8"):
        m = re.match(r"<!-- fields: (\S+) -->", line.strip())
        if m:
            current = out.setdefault(m.group(1), {})
            continue
        if current is None:
            continue
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) == 3 and cells[0] not in ("field", "---", ""):
            current[cells[0]] = (cells[1], "*optional*" in cells[2])
        elif not line.strip().startswith("|"):
            current = None if line.strip() else current
    return out


def select(value, path):
    values = [value]
    for part in re.findall(r"\[\d+\]|\[\]|[A-Za-z_]+", path):
        nxt = []
        for v in values:
            if part == "[]":
                nxt.extend(v)
            elif part.startswith("["):
                nxt.append(v[int(part[1:-1])])
            else:
                nxt.append(v[part])
        values = nxt
    return values


def main():
    doc, data = sys.argv[1], json.load(open(sys.argv[2], encoding="utf-8"))
    fields = tables(doc)
    bad = []
    for check in sys.argv[3:]:
        section, path = check.split("=", 1)
        table = fields[section]
        objects = select(data, path)
        if not objects:
            bad.append(f"{section}: {path} selects nothing")
        for obj in objects:
            failed = "error" in obj and "error" in table
            for key, value in obj.items():
                if key not in table:
                    bad.append(f"{section}: undocumented field {key!r}")
                elif value is None and "null" not in table[key][0]:
                    bad.append(f"{section}: {key!r} is null")
            for key, (kind, optional) in table.items():
                if not optional and key not in obj and not failed:
                    bad.append(f"{section}: field {key!r} missing")
    if bad:
        print("\n".join(sorted(set(bad))))
        sys.exit(1)


main()
