# Sourced by the scripts that start the program. The program is a desktop program: without
# a display Qt can only abort ("Reinstalling the application may fix this problem"), so
# say so before anything starts, and how to get a virtual one.
#   zun_need_display "how to run it again under xvfb-run"
zun_need_display() {
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
        echo "The program needs a display (an X or Wayland session), and none is set (DISPLAY is empty)." >&2
        echo "Without one, give it a virtual display: $1" >&2
        exit 1
    fi
}
