"""The protocol shared by the two conversion runners.

A runner reads one JSON request {"input_path": str, "output_path": str} on
stdin until end of file and prints one JSON reply on stdout: {"output_path":
<absolute path of the written file>} or {"error": <message>}. Nothing else
goes to stdout: native libraries may print on file descriptor 1, so it points
at stderr until the reply is written. Failures exit with status 1.
"""

import importlib
import json
import os
import shutil
import sys
import tempfile
import traceback


class ConversionError(Exception):
    """A failure reported to the caller as the reply's "error" text."""


def parse_request(data):
    try:
        request = json.loads(data.decode("utf-8"))
    except (UnicodeDecodeError, ValueError) as e:
        raise ConversionError("invalid request: %s" % e) from None
    if not isinstance(request, dict):
        raise ConversionError("invalid request: expected a JSON object")
    paths = []
    for key in ("input_path", "output_path"):
        value = request.get(key)
        if not isinstance(value, str) or not value:
            raise ConversionError("invalid request: `%s` must be a non-empty string" % key)
        paths.append(value)
    return paths


def import_packages(names):
    modules, missing = {}, []
    for name in names:
        try:
            modules[name] = importlib.import_module(name)
        except ImportError:
            missing.append(name)
        except Exception as e:  # noqa: BLE001 - a broken install is not "missing"
            raise ConversionError(
                "Python package `%s` cannot be imported: %s" % (name, e)
            ) from None
    if missing:
        missing.sort()
        raise ConversionError(
            "required Python package%s not installed: %s (pip install %s)"
            % ("s" if len(missing) > 1 else "", ", ".join(missing), " ".join(missing))
        )
    return modules


def check_paths(input_path, output_path):
    if not os.path.exists(input_path):
        raise ConversionError("input file not found: %s" % input_path)
    if not os.path.isfile(input_path):
        raise ConversionError("input is not a regular file: %s" % input_path)
    if os.path.isdir(output_path):
        raise ConversionError("output path is a directory: %s" % output_path)
    directory = os.path.dirname(os.path.abspath(output_path))
    if not os.path.isdir(directory):
        raise ConversionError("output directory does not exist: %s" % directory)


def final_path(output_path):
    directory, name = os.path.split(os.path.abspath(output_path))
    return os.path.join(os.path.realpath(directory), name)


def publish(output_path, write):
    """Runs write(staging_path) in a temporary directory beside the output,
    then renames what it wrote into place: sidecar files first, the named
    file last."""
    destination = final_path(output_path)
    directory, name = os.path.split(destination)
    staging = tempfile.mkdtemp(prefix=".%s." % name, suffix=".partial", dir=directory)
    try:
        write(os.path.join(staging, name))
        mask = os.umask(0)
        os.umask(mask)
        written = sorted(os.listdir(staging), key=lambda entry: entry == name)
        for entry in written:
            os.chmod(os.path.join(staging, entry), 0o666 & ~mask)
            os.replace(os.path.join(staging, entry), os.path.join(directory, entry))
    finally:
        shutil.rmtree(staging, ignore_errors=True)
    return destination


def reply_text(stdin_bytes, convert):
    try:
        input_path, output_path = parse_request(stdin_bytes)
        return json.dumps({"output_path": convert(input_path, output_path)}), 0
    except ConversionError as e:
        return json.dumps({"error": str(e)}), 1
    except BaseException as e:  # noqa: BLE001 - the caller reads only stdout
        traceback.print_exc(file=sys.stderr)
        return json.dumps({"error": "%s: %s" % (type(e).__name__, e)}), 1


def write_all(fd, data):
    while data:
        data = data[os.write(fd, data):]


def serve(convert):
    sys.stdout.flush()
    reply_fd = os.dup(1)
    os.dup2(2, 1)
    try:
        text, status = reply_text(sys.stdin.buffer.read(), convert)
        write_all(reply_fd, (text + "\n").encode("utf-8"))
        return status
    finally:
        os.close(reply_fd)
