#!/usr/bin/env bash
# Every C++ file of the project is formatted with the project's .clang-format.
set -euo pipefail
root=${1:?usage: format_check.sh PROJECT_DIR}
cd "$root"
mapfile -t files < <(find src tests bench tools -name '*.cpp' -o -name '*.h' | sort)
clang-format --dry-run -Werror "${files[@]}"
echo "format: ${#files[@]} files as .clang-format wants them"
