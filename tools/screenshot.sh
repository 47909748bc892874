#!/usr/bin/env bash
# Makes docs/screenshot.png: the main window under Xvfb after a real ping of 127.0.0.1, the
# same at scale 2 (docs/screenshot@2x.png, as on a 200% desktop), and docs/about.png: the About
# window with a link chosen.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$root/build"
cmake -S "$root" -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j2 --target tarnwick_window_screenshot tarnwick_about_screenshot
mkdir -p "$root/docs"
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
    "$build_dir/tests/ui/main/tarnwick_window_screenshot" "$root/docs/screenshot.png"
env -u QT_QPA_PLATFORM QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 2048x1536x24 -dpi 96" \
    "$build_dir/tests/ui/main/tarnwick_window_screenshot" "$root/docs/screenshot@2x.png"
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
    "$build_dir/tests/ui/about/tarnwick_about_screenshot" "$root/docs/about.png"
echo "Wrote $root/docs/screenshot.png, $root/docs/screenshot@2x.png and $root/docs/about.png"
