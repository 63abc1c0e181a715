"""Runs the Python examples (">>>" lines) of the README and of doc/*.md as doctests,
from the source directory, so that the documentation cannot drift from the module."""
import doctest
import glob
import os
import sys

src = sys.argv[1]
os.chdir(src)
failed = tried = 0
for path in ["README.md"] + sorted(glob.glob("doc/*.md")):
    result = doctest.testfile(path, module_relative=False, optionflags=doctest.ELLIPSIS)
    failed += result.failed
    tried += result.attempted
print(f"ran {tried} examples, {failed} failed")
sys.exit(1 if failed or tried == 0 else 0)
