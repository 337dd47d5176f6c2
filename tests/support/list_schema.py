"""What every JSON document of keyscout-list must be: one line of UTF-8 that ends with a
newline and follows docs/keyscout-list.schema.json, with no field the schema does not
describe (readers may ignore fields they do not know; the suite holds the tool to the
schema it ships).

    problems(raw) -> list of what is wrong with one document (bytes, \\r\\n allowed)
    load(raw)     -> the document, or AssertionError naming what is wrong
"""
import copy
import json
import os

import jsonschema

SCHEMA_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs",
                           "keyscout-list.schema.json")


def _closed(schema):
    """The schema with every object closed to the properties it names."""
    schema = copy.deepcopy(schema)

    def close(node):
        if isinstance(node, dict):
            if "properties" in node:
                node.setdefault("additionalProperties", False)
            for value in node.values():
                close(value)
        elif isinstance(node, list):
            for value in node:
                close(value)
    close(schema)
    return schema


with open(SCHEMA_FILE, encoding="utf-8") as f:
    SCHEMA = json.load(f)
jsonschema.Draft202012Validator.check_schema(SCHEMA)
VALIDATOR = jsonschema.Draft202012Validator(_closed(SCHEMA))


def problems(raw):
    raw = raw.replace(b"\r\n", b"\n")  # the Windows console's line ends
    found = []
    if not raw.endswith(b"\n"):
        found.append("does not end with a newline")
    if raw.count(b"\n") != 1:
        found.append("is not one line (%d newlines)" % raw.count(b"\n"))
    try:
        doc = json.loads(raw.decode("utf-8"))
    except (UnicodeDecodeError, json.JSONDecodeError) as e:
        return found + ["is not JSON in UTF-8: %s" % e]
    for error in sorted(VALIDATOR.iter_errors(doc), key=lambda e: list(e.absolute_path)):
        where = "/".join(str(p) for p in error.absolute_path) or "(document)"
        found.append("%s: %s" % (where, error.message[:200]))
    return found


def load(raw):
    found = problems(raw)
    if found:
        raise AssertionError("the JSON document breaks the schema: " + "; ".join(found[:5]))
    return json.loads(raw.replace(b"\r\n", b"\n").decode("utf-8"))
