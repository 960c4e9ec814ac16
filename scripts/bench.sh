#!/bin/sh
# Tarnwick against tar | gzip, tar | pigz and zip on a generated corpus of
# about 200 MB, with a table of times, memory and ratios. See
# scripts/bench.py for what it runs and the variables it takes.
set -eu
exec python3 "$(dirname -- "$0")/bench.py" "$@"
