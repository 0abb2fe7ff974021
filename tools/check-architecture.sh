#!/bin/bash
# Plain checks of the source tree's structure, run by CI:
# - the floors: a file includes headers of its own floor or of floors below it, never above;
# - no global singleton is named below the program's entry (shell/vellum.cpp, shell/dvStartup.*) and the
#   window (gui/): what a run needs reaches it as a parameter;
# - the window and the console never name the batch or its items: they drive a batch through TdvWork and
#   follow its items through their events;
# - the rooms that once held many jobs stay small.
# Prints every breach and exits 1 when there is one. With --floors only the first is checked.
set -u
only_floors=false
[[ ${1:-} == --floors ]] && only_floors=true
cd "$(dirname "$0")/.." || exit 2

floors=(base discovery project engine conversion shell gui)
floor_of() {
    local i
    for i in "${!floors[@]}"; do
        [[ ${floors[$i]} == "$1" ]] && { echo "$i"; return; }
    done
    echo -1
}

breaches=0
breach() {
    echo "$1"
    breaches=$((breaches + 1))
}

for file in src/*/*.h src/*/*.cpp; do
    own=$(floor_of "$(basename "$(dirname "$file")")")
    [[ $own -lt 0 ]] && continue
    while IFS= read -r included; do
        other=$(floor_of "${included%%/*}")
        [[ $other -gt $own ]] && breach "$file includes $included, a floor above its own"
    done < <(sed -n 's/^#include "\([a-z]*\/[^"]*\)".*/\1/p' "$file")
done

if $only_floors; then
    [[ $breaches -gt 0 ]] && { echo "architecture check: $breaches breach(es)"; exit 1; }
    echo "architecture check: every file includes its own floor or those below"
    exit 0
fi

globals='\b(gProject|gInfo|gApp|gMain)\b'
for file in src/base/* src/discovery/* src/project/* src/engine/* src/conversion/* src/shell/*; do
    case $file in
    src/shell/vellum.cpp | src/shell/dvStartup.*) continue ;;
    esac
    # The definition of a global and its declaration are where it lives; any other mention reads it.
    grep -nE "$globals" "$file" | grep -vE '^[0-9]+:\s*//' | grep -vE '^[0-9]+:(extern )?[A-Za-z]+\* g[A-Z][a-z]+( = nullptr)?;' |
        while IFS= read -r line; do echo "$file:$line"; done | sed 's/^/names a global: /' | grep . && breaches=$((breaches + 1))
done

# The window and the console drive a batch through its work (TdvWork) and learn of its items from their
# events; the batch and its items are the engine's own.
for file in src/shell/* src/gui/*; do
    grep -nE '\b(TdvBatch|TdvNode)\b' "$file" | grep -vE '^[0-9]+:\s*//' |
        while IFS= read -r line; do echo "$file:$line"; done | sed 's/^/touches the batch: /' | grep . && breaches=$((breaches + 1))
done

for file in src/engine/dvConvertor.cpp src/conversion/dvOffice.cpp src/gui/dvFormMain.cpp; do
    lines=$(wc -l < "$file")
    [[ $lines -gt 500 ]] && breach "$file has $lines lines, more than 500"
done

if [[ $breaches -gt 0 ]]; then
    echo "architecture check: $breaches breach(es)"
    exit 1
fi
echo "architecture check: floors, globals, the batch's walls and room sizes as they should be"
