#!/usr/bin/python3
"""Checks JSON files against a JSON Schema with Debian's python3-jsonschema.

    validate_json.py SCHEMA FILE...

Prints one line per file ("FILE: valid", or FILE and why not) and exits 0 when
every file is valid, 1 when one is not, 2 when the schema itself is wrong or a
file is no JSON.
"""
import json
import sys

import jsonschema


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    validator_class = jsonschema.validators.validator_for(schema)
    try:
        validator_class.check_schema(schema)
    except jsonschema.SchemaError as error:
        print(f"{argv[1]}: not a valid schema: {error.message}")
        return 2
    validator = validator_class(schema)
    status = 0
    for path in argv[2:]:
        try:
            with open(path, encoding="utf-8") as f:
                document = json.load(f)
        except (OSError, ValueError) as error:
            print(f"{path}: not JSON: {error}")
            return 2
        errors = sorted(validator.iter_errors(document), key=lambda e: list(e.path))
        if errors:
            status = 1
            for error in errors:
                where = "/".join(str(p) for p in error.path) or "(top)"
                print(f"{path}: {where}: {error.message}")
        else:
            print(f"{path}: valid")
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
