"""Puts Qiskit's own tests of its state-vector primitives, as its source distribution
publishes them for the installed version, into a folder where they test ours:
    python fetch.py DEST
then `python -m pytest DEST`. The files come unchanged, licence headers included, from
qiskit-VERSION.tar.gz on PyPI (fetched with pip, and kept beside DEST for the next run);
published_conftest.py, copied beside them as conftest.py, points them at ZelvanicSampler and ZelvanicEstimator.
"""
import shutil
import subprocess
import sys
import tarfile
from pathlib import Path

import qiskit

HERE = Path(__file__).resolve().parent
# Qiskit's test package and the two modules whose cases we run.
WANTED = ("test/__init__.py", "test/utils/", "test/python/__init__.py",
          "test/python/primitives/__init__.py",
          "test/python/primitives/test_statevector_estimator.py",
          "test/python/primitives/test_statevector_sampler.py")


def source_archive(version: str, cache: Path) -> Path:
    archive = cache / f"qiskit-{version}.tar.gz"
    if not archive.exists():
        cache.mkdir(parents=True, exist_ok=True)
        subprocess.run([sys.executable, "-m", "pip", "download", "-q", "--no-deps",
                        "--no-binary", ":all:", f"qiskit=={version}", "-d", str(cache)],
                       check=True)
    return archive


def extract(archive: Path, dest: Path) -> None:
    with tarfile.open(archive) as tar:
        for member in tar.getmembers():
            parts = member.name.split("/", 1)
            if len(parts) < 2 or not member.isfile():
                continue
            inner = parts[1]
            if any(inner == w or (w.endswith("/") and inner.startswith(w)) for w in WANTED):
                target = dest / inner
                target.parent.mkdir(parents=True, exist_ok=True)
                with tar.extractfile(member) as source, open(target, "wb") as out:
                    shutil.copyfileobj(source, out)


def main() -> int:
    dest = Path(sys.argv[1]).resolve()
    version = qiskit.__version__
    archive = source_archive(version, dest.parent / "qiskit-sdist")
    if dest.exists():
        shutil.rmtree(dest)
    dest.mkdir(parents=True)
    extract(archive, dest)
    missing = [w for w in WANTED if not (dest / w).exists()]
    if missing:
        print(f"qiskit {version}'s source archive lacks {missing}", file=sys.stderr)
        return 1
    shutil.copy(HERE / "published_conftest.py", dest / "conftest.py")
    print(f"Qiskit {version}'s primitive tests are in {dest}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
