"""Fixtures: a settings file for the bundled argon database, copies of the
sample measurements, and lumora-cli run on the same files."""
import os
import pathlib
import subprocess

import pytest

SOURCE = pathlib.Path(os.environ.get("LUMORA_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
SAMPLES = sorted((SOURCE / "data" / "measurements").glob("*.txt"))


@pytest.fixture
def world(tmp_path, monkeypatch):
    """A settings file naming the bundled database, the samples in meas/,
    and private temporary and per-user folders for the module and the CLI."""
    meas = tmp_path / "meas"
    meas.mkdir()
    for sample in SAMPLES:
        (meas / sample.name).write_bytes(sample.read_bytes())
    template = (SOURCE / "data" / "lumora.ini").read_text()
    ini = tmp_path / "lumora.ini"
    ini.write_text(template.replace("@LUMORA_DATABASE_FOLDER@", str(SOURCE / "data" / "database"))
                   .replace("@LUMORA_MEASUREMENTS_FOLDER@", str(meas)))
    for name in ("tmp", "xdg"):
        (tmp_path / name).mkdir()
    monkeypatch.setenv("TMPDIR", str(tmp_path / "tmp"))
    monkeypatch.setenv("XDG_DATA_HOME", str(tmp_path / "xdg"))
    return tmp_path


class Cli:
    def __init__(self, root):
        self.root = root

    def __call__(self, *args, ini=True):
        program = os.environ.get("LUMORA_CLI")
        if not program:
            pytest.fail("LUMORA_CLI names no lumora-cli to compare with")
        command = [program] + (["--ini", str(self.root / "lumora.ini")] if ini else []) + \
            [str(a) for a in args]
        return subprocess.run(command, cwd=self.root, capture_output=True, text=True,
                              stdin=subprocess.DEVNULL, env=dict(os.environ))


@pytest.fixture
def cli(world):
    return Cli(world)


@pytest.fixture
def session(world):
    import lumora
    return lumora.Session(ini=world / "lumora.ini")
