#!/usr/bin/env bash
# Fails on an include that points up the layers. Each folder of the layout is
# one room with a rank; a unit may include units of its own room and of rooms
# ranked below it. The foundation and its platform calls share the bottom rank.
# Tests, benchmarks, fuzz targets and the examples stand above every room.
# Usage: scripts/check-layers.sh [ROOT]   (exit 1 and one line per fault)
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

declare -A rank=(
  [QlLib]=0 [QlLib/Platform]=0
  [QlLib/Graphics]=1 [QlLib/Music]=1 [QlLib/Video]=1
  [QlLib/VectorGraphics]=2
  [OrbLib2/OrbPackage]=3
  [OrbLib2/3DBasics]=4
  [OrbLib2/3DEngine]=5
  [OrbLib2]=6
  [OrbLib2/OrbClasses]=7
  [OrbLib2/OrbViewer]=8
  [OrbLib2/NavPanel]=9
  [Orb/OrbViewer]=10 [Orb/OrbTool]=10
)

faults=0
while IFS= read -r -d '' file; do
  room=${file%/*}
  if [[ -z "${rank[$room]+set}" ]]; then
    echo "$file: folder $room is not a room of the layout (add it to $0)"
    faults=$((faults + 1))
    continue
  fi
  while IFS=: read -r line included; do
    target=${included%/*}
    [[ "$target" == "$room" ]] && continue
    if [[ -z "${rank[$target]+set}" ]]; then
      echo "$file:$line: includes $included from outside the layout"
    elif ((rank[$target] > rank[$room])); then
      echo "$file:$line: includes $included, a layer above $room"
    elif ((rank[$target] == rank[$room])) && ((rank[$room] != 0)); then
      echo "$file:$line: includes $included, a sibling of $room on the same layer"
    else
      continue
    fi
    faults=$((faults + 1))
  done < <(grep -noE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+"' "$file" \
             | sed -E 's/^([0-9]+):.*"([^"]+)"/\1:\2/')
done < <(find QlLib OrbLib2 Orb \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)

if ((faults > 0)); then
  echo "check-layers: $faults include(s) break the layering"
  exit 1
fi
echo "check-layers: every include points down"
