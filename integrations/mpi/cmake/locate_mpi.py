"""Prints the folder of mpi.h and the path of libmpi.so from the mpich wheel installed where
this interpreter looks (the build environment), one per line; nothing when there is none."""
import importlib.metadata as metadata

try:
    files = metadata.distribution("mpich").files or []
except metadata.PackageNotFoundError:
    files = []
found = {}
for f in files:
    name = str(f).replace("\\", "/")
    if name.endswith("/include/mpi.h"):
        found["include"] = f.locate().resolve().parent
    elif name.endswith("/libmpi.so"):
        found["library"] = f.locate().resolve()
if len(found) == 2:
    print(found["include"])
    print(found["library"])
