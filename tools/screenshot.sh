#!/usr/bin/env bash
# Makes docs/screenshot.png: the main window under Xvfb after a real ping of 127.0.0.1,
# and docs/about.png: the About window with a link chosen.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$root/build"
cmake -S "$root" -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j2 --target tarnwick_window_screenshot tarnwick_about_screenshot
mkdir -p "$root/docs"
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
    "$build_dir/tests/ui/main/tarnwick_window_screenshot" "$root/docs/screenshot.png"
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
    "$build_dir/tests/ui/about/tarnwick_about_screenshot" "$root/docs/about.png"
echo "Wrote $root/docs/screenshot.png and $root/docs/about.png"
