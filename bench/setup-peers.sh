#!/usr/bin/env bash
# Builds the virtual environment that bench/peers.py and bench/circuits.py run in: the peer
# simulators from PyPI, and zelvanic and its Qiskit integration from this work tree. A peer
# that fails to install is reported and skipped.
#
#     bash bench/setup-peers.sh [python]   # default python3; venv in build/venv-peers (or $VENV)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
python=${1:-python3}
venv=${VENV:-$root/build/venv-peers}

"$python" -m venv "$venv" || exit 1
pip="$venv/bin/python -m pip"
$pip install --quiet --upgrade pip || exit 1

failed=()
while read -r package; do
    package=${package%%#*}
    package=$(echo "$package" | xargs)
    [ -n "$package" ] || continue
    echo "installing $package"
    $pip install --quiet "$package" || failed+=("$package")
done < "$here/requirements-peers.txt"

# Rebuilt on every run, so that running this again picks up the work tree's changes.
echo "installing zelvanic from $root"
$pip install --quiet --force-reinstall --no-deps "$root" || {
    echo "zelvanic failed to build" >&2
    exit 1
}

# The Qiskit integration, for the sampler comparison (its qiskit came with the peers above).
echo "installing zelvanic-qiskit from $root/integrations/qiskit"
$pip install --quiet --force-reinstall --no-deps "$root/integrations/qiskit" ||
    failed+=("zelvanic-qiskit")

if [ ${#failed[@]} -gt 0 ]; then
    echo "not installed (peers.py skips them): ${failed[*]}"
fi
echo "run: $venv/bin/python $here/peers.py [--quick]"
