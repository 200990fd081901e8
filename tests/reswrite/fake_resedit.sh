#!/bin/sh
# Stand-in for the resource editor in the test bundle. RESWRITE_FAKE_MODE
# picks what it does; RESWRITE_ARGS_FILE, when set, receives its arguments.
if [ -n "$RESWRITE_ARGS_FILE" ]; then
    for arg in "$@"; do printf '%s\n' "$arg"; done > "$RESWRITE_ARGS_FILE"
fi
case "$RESWRITE_FAKE_MODE" in
fail-message)
    echo "fake editor: cannot open the target"
    exit 1
    ;;
scribble)
    printf 'scribbled' > "$2"
    echo "fake editor: wrote garbage"
    exit 1
    ;;
remove)
    rm -f "$2" "$2.bak"
    exit 0
    ;;
fail-silent)
    exit 3
    ;;
hang)
    exec sleep 25
    ;;
real)
    exec "$RESWRITE_REAL_TOOL" "$@"
    ;;
*)
    echo "fake editor: unknown mode '$RESWRITE_FAKE_MODE'"
    exit 9
    ;;
esac
