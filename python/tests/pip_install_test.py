"""pip-installs the package from a copy of the source tree into a fresh virtual
environment (with the system's site packages, offline), then runs the
module's tests against the installed copy from another directory.

    /usr/bin/python3 pip_install_test.py SOURCE_DIR WORK_DIR
"""

import os
import pathlib
import shutil
import subprocess
import sys


def main(source, work):
    source, work = pathlib.Path(source), pathlib.Path(work)
    shutil.rmtree(work, ignore_errors=True)
    tree = work / "src"
    shutil.copytree(source, tree, ignore=shutil.ignore_patterns("build", ".git", "__pycache__"))
    venv = work / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True)
    env = dict(os.environ, PATH=f"{venv / 'bin'}{os.pathsep}{os.environ['PATH']}",
               PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1", VIRTUAL_ENV=str(venv))
    env.pop("PYTHONPATH", None)
    # The README's command.
    subprocess.run("pip install . --no-build-isolation", shell=True, cwd=tree, env=env,
                   check=True)
    elsewhere = work / "elsewhere"
    elsewhere.mkdir()
    python = str(venv / "bin" / "python")
    where = subprocess.run([python, "-c", "import korvalinde; print(korvalinde.__file__)"],
                           cwd=elsewhere, env=env, check=True, capture_output=True,
                           text=True).stdout
    assert where.startswith(str(venv)), where
    for f in ("_korvalinde.pyi", "py.typed", "xarray.py"):
        assert (pathlib.Path(where).parent / f).is_file(), f
    tests = [str(p) for p in sorted((tree / "python" / "tests").glob("test_*.py"))]
    subprocess.run([python, "-m", "pytest", "-q", "-p", "no:cacheprovider", *tests],
                   cwd=elsewhere, env=env, check=True)
    shutil.rmtree(work)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
