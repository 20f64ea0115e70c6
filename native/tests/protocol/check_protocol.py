"""The line protocols' schemas (docs/protocol) held against the programs and the README.

  check_protocol.py lines <build dir> <schema dir>
      Runs the transcript and process tests with their lines logged (see
      native/tests/support/LineLog.h) and validates every line each program
      wrote against its output schema, and every line or command line sent by
      a transcript not marked `input: malformed` against the command schemas.
      The simulated desktop's answers to its control channel, which share a
      program's standard output, are held to sim-replies.schema.json here.
  check_protocol.py readme <README.md> <schema dir>
      Compares the README's protocol tables with the schemas: each table links
      its schema, and the commands, events, operations and codes they name are
      the schemas' own.
"""

import json
import os
import re
import subprocess
import sys
import tempfile

import jsonschema

# The test executables whose tests run the programs, and which of their tests do.
RUNS = {
    "ambrel": "*Transcript*",
    "sondra": "*Transcript*:SondraProcess*",
    "tarnet": "*Transcript*:TarnetProcess*",
    "velkit": "*Transcript*:VelkitInput*",
}
SCHEMAS = {
    "ambrel": ("ambrel-events.schema.json", "ambrel-commands.schema.json"),
    "sondra": ("sondra-lines.schema.json", "sondra-requests.schema.json"),
    "tarnet": ("tarnet-lines.schema.json", None),
    "velkit": ("velkit-output.schema.json", None),
}


def load(schema_dir, name):
    with open(os.path.join(schema_dir, name), encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    return schema


def validator(schema, definition=None):
    if definition is not None:
        schema = dict(schema, **{"$ref": "#/$defs/" + definition})
        schema.pop("oneOf", None)
        schema.pop("anyOf", None)
    return jsonschema.Draft202012Validator(schema)


def why(validator_, value):
    error = jsonschema.exceptions.best_match(validator_.iter_errors(value))
    if error is None:
        return None
    where = "/".join(str(p) for p in error.absolute_path)
    return (where + ": " if where else "") + error.message


DISCRIMINATORS = ("type", "event", "op", "status")


def explain(schema, value):
    """Why a line fails a schema that dispatches on its words: what the definition
    with the line's type, event, op and status words, nearest to admitting it, says;
    or that none has them."""
    if not isinstance(value, dict):
        return "not a JSON object"
    candidates = []
    for ref in schema.get("oneOf", []):
        name = ref["$ref"].rsplit("/", 1)[1]
        props = schema["$defs"][name].get("properties", {})
        fixed = {k: p["const"] for k, p in props.items() if k in DISCRIMINATORS and "const" in p}
        if fixed and all(value.get(k) == v for k, v in fixed.items()):
            check = validator(schema, name)
            candidates.append((len(list(check.iter_errors(value))), name, check))
    if not candidates:
        return "no line kind of the schema has its " + "/".join(DISCRIMINATORS) + " words"
    _, name, check = min(candidates, key=lambda candidate: candidate[0])
    return f"as {name}: " + why(check, value)


def kind_of(schema, value):
    """The name of the one definition of the schema that admits the value."""
    for ref in schema.get("oneOf", schema.get("anyOf", [])):
        name = ref["$ref"].rsplit("/", 1)[1]
        if validator(schema, name).is_valid(value):
            return name
    return None


def run_tests(build_dir, log_dir):
    env = dict(os.environ, NOLARI_TEST_LINE_LOG=log_dir)
    runs = []
    with tempfile.TemporaryDirectory(prefix="protocol-runs-") as output_dir:
        for program, test_filter in RUNS.items():
            binary = os.path.join(build_dir, "native", "tests", program, program + "_tests")
            # Into a file each, so that no run waits on a pipe another one fills.
            output = open(os.path.join(output_dir, program), "w+", encoding="utf-8", errors="replace")
            runs.append((program, output, subprocess.Popen(
                [binary, "--gtest_filter=" + test_filter, "--gtest_brief=1"], env=env,
                stdout=output, stderr=subprocess.STDOUT)))
        for program, output, process in runs:
            process.wait()
            # The tests report their own failures; the lines they logged are checked all the same.
            if process.returncode != 0:
                output.seek(0)
                print(f"note: {program}_tests failed, so some runs may have logged fewer lines:\n"
                      + output.read()[-2000:])
            output.close()


def check_lines(build_dir, schema_dir):
    sim_replies = validator(load(os.path.dirname(os.path.abspath(__file__)), "sim-replies.schema.json"))
    outputs, inputs = {}, {}
    for program, (out_name, in_name) in SCHEMAS.items():
        outputs[program] = load(schema_dir, out_name)
        inputs[program] = load(schema_dir, in_name) if in_name else None
    with tempfile.TemporaryDirectory(prefix="protocol-lines-") as log_dir:
        run_tests(build_dir, log_dir)
        failures = []
        seen = {program: set() for program in SCHEMAS}
        counts = {program: [0, 0] for program in SCHEMAS}
        for name in sorted(os.listdir(log_dir)):
            with open(os.path.join(log_dir, name), encoding="utf-8") as f:
                records = [json.loads(line) for line in f]
            header = records[0]
            program, args, test = header["program"], header["args"], header["test"]
            out_schema, in_schema = outputs[program], inputs[program]
            if program == "velkit":
                command = args[0] if args else None
                known = command in out_schema["$defs"] and command != "arguments"
                out_check = validator(out_schema, command if known else "usage")
                if header["input_checked"]:
                    problem = why(validator(out_schema, "arguments"), args)
                    if problem:
                        failures.append(f"{test}: velkit {json.dumps(args)}: {problem}")
                    else:
                        counts[program][1] += 1
            else:
                out_check = validator(out_schema)
            in_check = validator(in_schema) if in_schema else None
            for record in records[1:]:
                direction, text = next(iter(record.items()))
                if direction == "in" and not (header["input_checked"] and in_check):
                    continue
                try:
                    value = json.loads(text)
                except ValueError:
                    failures.append(f"{test}: {program} {direction}: not JSON: {text}")
                    continue
                check = out_check if direction == "out" else in_check
                problem = why(check, value)
                if problem and direction == "out" and sim_replies.is_valid(value):
                    continue
                if problem and "oneOf" in check.schema:
                    problem = explain(check.schema, value)
                if problem:
                    failures.append(f"{test}: {program} {direction}: {text}\n    {problem}")
                    continue
                counts[program][direction == "in"] += 1
                if direction == "out":
                    seen[program].add(kind_of(out_schema, value) if program != "velkit"
                                      else (args[0] if args else "usage"))
    for program in SCHEMAS:
        written, sent = counts[program]
        kinds = [ref["$ref"].rsplit("/", 1)[1]
                 for ref in outputs[program].get("oneOf", outputs[program].get("anyOf", []))]
        unseen = sorted(set(kinds) - seen[program])
        print(f"{program}: {written} lines written and {sent} sent are as their schemas say;"
              f" line kinds no test run wrote: {', '.join(unseen) or 'none'}")
        if written == 0:
            failures.append(f"{program}: no line was logged; are the tests built?")
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


def section(readme, heading):
    start = readme.index("\n## " + heading + "\n")
    end = readme.find("\n## ", start + 1)
    return readme[start:end if end >= 0 else len(readme)]


def table_after(text, header_start):
    """The first column's backticked names of the table whose header row starts so."""
    at = text.index("\n| " + header_start)
    names = []
    for row in text[at + 1:].split("\n")[2:]:
        if not row.startswith("|"):
            break
        first = row.split("|")[1]
        names += re.findall(r"`([^`]+)`", first)
    return names


def schema_kinds(schema):
    """The type, event or op words the schema's definitions fix."""
    words = {}
    for name, definition in schema["$defs"].items():
        props = definition.get("properties", {})
        for member in ("event", "op", "type"):
            if "const" in props.get(member, {}):
                words[name] = props[member]["const"]
                break
    return words


def check_readme(readme_path, schema_dir):
    with open(readme_path, encoding="utf-8") as f:
        readme = f.read()
    failures = []

    def same(what, documented, defined):
        documented, defined = set(documented), set(defined)
        for word in sorted(documented - defined):
            failures.append(f"{what}: the README names `{word}`, which no schema defines")
        for word in sorted(defined - documented):
            failures.append(f"{what}: the schema defines `{word}`, which the README's table lacks")

    for program, (out_name, in_name) in SCHEMAS.items():
        text = section(readme, program.capitalize())
        for name in filter(None, (out_name, in_name)):
            if f"(docs/protocol/{name})" not in text:
                failures.append(f"{program}: the README's section does not link docs/protocol/{name}")

    ambrel = section(readme, "Ambrel")
    commands = load(schema_dir, "ambrel-commands.schema.json")
    same("Ambrel commands", table_after(ambrel, "command |"), schema_kinds(commands).values())
    events = load(schema_dir, "ambrel-events.schema.json")
    words = schema_kinds(events)
    tabled = table_after(ambrel, "blob event |") + table_after(ambrel, "rating event |")
    same("Ambrel blob and rating events",
         tabled, [w for w in words.values() if w.startswith(("action_blob_", "feedback_"))])
    mentioned = set(re.findall(r'"(?:event|type)":"([a-z_]+)"', ambrel))
    mentioned |= set(re.findall(r"`([a-z_]+)`", ambrel))
    for word in sorted(set(words.values()) - mentioned):
        failures.append(f"Ambrel events: the schema defines `{word}`, which the README does not name")

    sondra = section(readme, "Sondra")
    requests = load(schema_dir, "sondra-requests.schema.json")
    same("Sondra operations", table_after(sondra, "`op` |"), schema_kinds(requests).values())
    lines = load(schema_dir, "sondra-lines.schema.json")
    codes = lines["$defs"]["failure"]["properties"]["code"]["enum"]
    codes_text = sondra[sondra.index("Codes:"):]
    # Without the asides in brackets, which name members.
    codes_text = re.sub(r"\([^()]*\)", "", codes_text[:codes_text.index("\n\n")])
    same("Sondra error codes", re.findall(r"`([a-z_]+)`", codes_text), codes)
    for definition, member in [("authorization", "authorization"), ("locale_status", "asset_status")]:
        for word in lines["$defs"][definition]["properties"][member]["enum"]:
            if f"`{word}`" not in sondra:
                failures.append(f"Sondra {member}: the README lacks `{word}`")

    velkit = section(readme, "Velkit")
    output = load(schema_dir, "velkit-output.schema.json")
    same("Velkit commands",
         [w for w in table_after(velkit, "command |") if not w.startswith("{")
          and w != "write-text <text>"] + ["write-text"],
         output["$defs"]["arguments"]["prefixItems"][0]["enum"])

    for failure in failures:
        print("FAIL " + failure)
    if not failures:
        print("The README's protocol tables and the schemas agree.")
    return 1 if failures else 0


if __name__ == "__main__":
    mode, first, schema_dir = sys.argv[1:4]
    sys.exit(check_lines(first, schema_dir) if mode == "lines" else check_readme(first, schema_dir))
