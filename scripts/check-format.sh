#!/usr/bin/env bash
# Fails when a C++ file changed since the commit in .ci/format-base (committed
# or not) is not formatted as .clang-format says. Files nobody has touched
# since keep their old layout until their next change.
# Usage: scripts/check-format.sh [BASE]
set -euo pipefail
cd "$(dirname "$0")/.."
base=${1:-$(cat .ci/format-base)}
command -v clang-format >/dev/null || { echo "check-format: clang-format is not installed (./setup.sh)"; exit 1; }
if ! git cat-file -e "$base^{commit}" 2>/dev/null; then
  # A shallow clone lacks the base, so what changed since it cannot be told.
  echo "check-format: base $base is not in this clone; nothing checked"
  exit 0
fi
mapfile -t files < <(git diff --name-only --diff-filter=d "$base" -- '*.cpp' '*.h'
                     git ls-files --others --exclude-standard -- '*.cpp' '*.h')
bad=()
for file in "${files[@]}"; do
  [[ -f "$file" ]] || continue
  clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || bad+=("$file")
done
if ((${#bad[@]} > 0)); then
  printf 'check-format: not formatted: %s\n' "${bad[@]}"
  echo "check-format: run clang-format -i on them"
  exit 1
fi
echo "check-format: ${#files[@]} changed file(s) formatted"
