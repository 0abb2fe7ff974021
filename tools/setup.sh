#!/usr/bin/env bash
# Installs what the project needs on Debian 12, configures and builds.
#   tools/setup.sh          set up and build
#   tools/setup.sh --demo   ... then convert the sample decks under samples/ into build/demo/
#   tools/setup.sh --test   ... then run the whole test suite
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make pkg-config qt6-base-dev libgtest-dev libgmock-dev
          libreoffice-core libreoffice-impress-nogui libreoffice-dev poppler-utils xvfb xauth
          desktop-file-utils python3 fonts-dejavu-core clang-format clang-tidy
          qt6-l10n-tools qt6-translations-l10n appstream openbox xdotool
          # Fonts with the widths of the Office fonts (Calibri, Cambria, Arial, Times New Roman, Courier New,
          # Arial Narrow), East Asian glyphs and symbols, and Comic Neue, without which a fonts-urw-base35
          # that other packages bring (ghostscript's) sets Comic Sans in a calligraphic script. Not
          # fonts-noto-color-emoji (the office draws its emoji invisible), fonts-noto-core (taller lines for
          # every unknown font) or fonts-arkpandora (a wider stand-in for Arial).
          fonts-crosextra-carlito fonts-crosextra-caladea fonts-liberation2 fonts-liberation
          fonts-noto-cjk fonts-symbola fonts-comic-neue)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

build=${VELLUM_BUILD_DIR:-build}
extra=()
[[ -n "${CI:-}" ]] && extra+=(-DVELLUM_WERROR=ON)
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" >/dev/null
fi
cmake --build "$build" -j "$(nproc)" -- --no-print-directory >/dev/null

case "${1:-}" in
  --demo)
    out="$PWD/$build/demo"
    mkdir -p "$out"
    "$build/vellum" "-P:Source=$PWD/samples/*.ppt?;Target=$out;PureConsole=True;ThreadsCount=2;LogFile=$out/run.log"
    echo "PDF files are in $out"
    ;;
  --test)
    # The core under AddressSanitizer and UndefinedBehaviorSanitizer first (no office, no window) ...
    asan=${build}-asan
    if [[ ! -f "$asan/CMakeCache.txt" ]]; then
      cmake -S . -B "$asan" -DCMAKE_BUILD_TYPE=Debug -DVELLUM_SANITIZE=ON -DVELLUM_OFFICE=OFF \
            -DVELLUM_GUI=OFF "${extra[@]}" >/dev/null
    fi
    cmake --build "$asan" -j "$(nproc)" -- --no-print-directory >/dev/null
    (cd "$asan" && ctest --output-on-failure --timeout 300 -j 2)
    # ... the engine's threads under ThreadSanitizer ...
    tsan=${build}-tsan
    if [[ ! -f "$tsan/CMakeCache.txt" ]]; then
      cmake -S . -B "$tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLUM_TSAN=ON -DVELLUM_OFFICE=OFF \
            -DVELLUM_GUI=OFF "${extra[@]}" >/dev/null
    fi
    cmake --build "$tsan" -j "$(nproc)" --target test_base test_engine test_rerun -- --no-print-directory >/dev/null
    (cd "$tsan" && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
       ctest --output-on-failure --timeout 600 -j 2 -R '^test_(base|engine|rerun)$')
    # ... then the whole suite, office and window included.
    cd "$build"
    ctest --output-on-failure --timeout 900
    ;;
  "") ;;
  *) echo "usage: $0 [--demo|--test]" >&2; exit 2 ;;
esac
