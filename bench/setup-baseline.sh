#!/usr/bin/env bash
# Builds an earlier release of zelvanic into a virtual environment of its own, so that
# bench/circuits.py --baseline-venv can time it beside the work tree's build in the same run.
# The source is exported from this repository's history (git archive): the work tree and its
# branches are left alone.
#
#     bash bench/setup-baseline.sh COMMIT [python]   # venv in build/venv-baseline (or $VENV)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
commit=${1:?usage: bash bench/setup-baseline.sh COMMIT [python]}
python=${2:-python3}
venv=${VENV:-$root/build/venv-baseline}
source_dir=$venv-source

rm -rf "$source_dir"
mkdir -p "$source_dir"
git -C "$root" archive --format=tar "$commit" | tar -x -C "$source_dir"
git -C "$root" rev-parse --short "$commit" > "$source_dir/COMMIT"

"$python" -m venv "$venv"
"$venv/bin/python" -m pip install --quiet --upgrade pip
"$venv/bin/python" -m pip install --quiet --force-reinstall --no-deps "$source_dir"
# The worker reads the commit from here to name the baseline in the report.
cp "$source_dir/COMMIT" "$venv/ZELVANIC_COMMIT"
echo "zelvanic $(cat "$source_dir/COMMIT") in $venv"
