#!/usr/bin/env python3
"""Checks every line of an event stream (corvanel-cli download --events, station --json) against
docs/events.schema.json: validate_events.py SCHEMA FILE. Exit 0 when every line is valid."""
import json
import sys

import jsonschema

with open(sys.argv[1], encoding="utf-8") as f:
    schema = json.load(f)
validator = jsonschema.Draft202012Validator(schema)
bad = 0
lines = 0
with open(sys.argv[2], encoding="utf-8", errors="surrogateescape") as f:
    for number, line in enumerate(f, 1):
        lines += 1
        try:
            event = json.loads(line)
        except json.JSONDecodeError as error:
            print(f"line {number}: not JSON: {error}: {line.strip()}")
            bad += 1
            continue
        for error in validator.iter_errors(event):
            print(f"line {number}: {error.message}: {line.strip()}")
            bad += 1
print(f"{lines} lines, {bad} problems")
sys.exit(1 if bad or not lines else 0)
