"""Shared fixtures: fake tools on a temporary PATH, a private HOME, and GGUF
files written by the repository's own writer."""

import os
import pathlib
import stat
import sys
import textwrap

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "scripts"))

import gguf_writer  # noqa: E402


class FakeTools:
    """Writes executable scripts into one directory placed first on PATH."""

    def __init__(self, directory):
        self.dir = directory
        self.dir.mkdir(parents=True, exist_ok=True)

    def add(self, name, body, interpreter="/bin/sh"):
        path = self.dir / name
        path.write_text(f"#!{interpreter}\n" + textwrap.dedent(body).lstrip("\n"))
        path.chmod(path.stat().st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)
        return path


@pytest.fixture
def fake_tools(tmp_path, monkeypatch):
    tools = FakeTools(tmp_path / "bin")
    # Keep the system directories so that fake shell scripts can run, but
    # nothing else that could hold a real inference tool.
    monkeypatch.setenv("PATH", f"{tools.dir}:{pathlib.Path(sys.executable).parent}:/usr/bin:/bin")
    return tools


@pytest.fixture
def home(tmp_path, monkeypatch):
    directory = tmp_path / "home"
    directory.mkdir()
    monkeypatch.setenv("HOME", str(directory))
    return directory


@pytest.fixture
def gguf(tmp_path):
    def make(name="model.gguf", kvs=None, **kwargs):
        return str(gguf_writer.write(tmp_path / name, kvs if kvs is not None else gguf_writer.llama_kvs(**kwargs)))

    return make
