#!/usr/bin/env bash
# One case of sila2_client_test.py, run by the python the sila2-python tool prints (it makes
# the client's virtual environment on first use). Without arguments: only that set-up.
set -euo pipefail
tool=$1
shift
python=$(bash "$tool")
[[ $# -eq 0 ]] && exit 0
exec "$python" "$(dirname "$0")/sila2_client_test.py" "$@"
