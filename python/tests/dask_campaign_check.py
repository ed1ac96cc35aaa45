"""examples/campaign_dask.py on a LocalCluster of two workers writes the
table lumora-cli fit --series writes for the same 200 generated recordings.

Run by CTest with PYTHONPATH, LUMORA_CLI and LUMORA_SOURCE_DIR set; exits
with 77 (skipped) when Dask's distributed scheduler is not installed."""
import os
import pathlib
import subprocess
import sys
import tempfile

SKIPPED = 77
SOURCE = pathlib.Path(os.environ["LUMORA_SOURCE_DIR"])
CLI = os.environ["LUMORA_CLI"]
FILES = 200


def main():
    try:
        import dask.distributed  # noqa: F401
    except ImportError:
        print("skipped: dask.distributed is not importable (Debian: python3-distributed)")
        return SKIPPED
    with tempfile.TemporaryDirectory(prefix="lumora-dask-") as folder:
        root = pathlib.Path(folder)
        for name in ("tmp", "xdg"):
            (root / name).mkdir()
        env = dict(os.environ, TMPDIR=str(root / "tmp"), XDG_DATA_HOME=str(root / "xdg"))
        ini = root / "lumora.ini"
        ini.write_text((SOURCE / "data" / "lumora.ini").read_text()
                       .replace("@LUMORA_DATABASE_FOLDER@", str(SOURCE / "data" / "database"))
                       .replace("@LUMORA_MEASUREMENTS_FOLDER@", str(root)))
        series = root / "series"
        subprocess.run([sys.executable, str(SOURCE / "data" / "make_recording.py"), "--series",
                        str(series), "--count", str(FILES), "--seed", "11"], check=True)
        files = sorted(str(p) for p in series.iterdir())
        # One file that is no recording keeps its row with the error.
        broken = series / "argon_pulse_t=broken.recording.csv"
        broken.write_text("# time: 2026-03-01T10:00:01Z\nwavelength_nm,counts\n700,1\n")
        files.append(str(broken))
        common = ["--ini", str(ini), "--spectrum", "--min-snr", "4"]
        cli = subprocess.run([CLI, *common[:2], "fit", *common[2:], "--series",
                              str(root / "cli.csv"), *files], env=env, capture_output=True,
                             text=True)
        dask = subprocess.run([sys.executable, str(SOURCE / "examples" / "campaign_dask.py"),
                               "--workers", "2", *common, "--series", str(root / "dask.csv"),
                               *files], env=env, capture_output=True, text=True)
        print(dask.stdout)
        if not (root / "dask.csv").exists():
            print(f"campaign_dask.py wrote no table ({dask.returncode}):\n{dask.stderr[-4000:]}")
            return 1
        if cli.returncode != 1 or dask.returncode != 1:
            print(f"expected status 1 (one file fails): lumora-cli {cli.returncode}, "
                  f"campaign_dask.py {dask.returncode}\n{cli.stderr[-2000:]}")
            return 1
        want = (root / "cli.csv").read_bytes()
        got = (root / "dask.csv").read_bytes()
        if got != want:
            for a, b in zip(want.splitlines(), got.splitlines()):
                if a != b:
                    print(f"lumora-cli: {a!r}\ndask:       {b!r}")
                    break
            print("the tables differ")
            return 1
        rows = want.count(b"\r\n") - 1
        print(f"same table of {rows} rows")
        return 0 if rows == FILES + 1 else 1


if __name__ == "__main__":
    sys.exit(main())
