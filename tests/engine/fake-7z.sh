#!/bin/sh
# Stand-in archiver for faults the real one cannot be made to show. The
# compression method argument (-m0=...) picks the behaviour:
#   size:N      write an archive of exactly N bytes, exit 0
#   fail:CODE   write part of an archive, print an error, exit CODE
#   noarchive   print success but write nothing, exit 0
#   killed      write part of an archive, then die by a signal
#   dir         leave a directory where the archive should be, exit 0
#   fifo        leave a named pipe there; once the job has opened its output
#               (a temporary file beside out/app.exe, out/ beside the
#               archive's folder), remove that file and feed the pipe a few
#               bytes
archive="$3"
mode=""
for arg in "$@"; do
    case "$arg" in
    -m0=*) mode="${arg#-m0=}" ;;
    esac
done
case "$mode" in
size:*)
    head -c "${mode#size:}" /dev/zero >"$archive"
    echo " 40% 1 + a.txt"
    echo "100%"
    echo "Everything is Ok"
    exit 0
    ;;
fail:*)
    printf 'partial' >"$archive"
    echo "ERROR: simulated failure"
    exit "${mode#fail:}"
    ;;
noarchive)
    echo "Everything is Ok"
    exit 0
    ;;
dir)
    mkdir "$archive"
    echo "Everything is Ok"
    exit 0
    ;;
fifo)
    out="$(dirname "$archive")/../out"
    mkfifo "$archive"
    # The job opens its output before it reads the archive, and cannot read
    # on before this opens the pipe.
    timeout 60 sh -c 'while :; do for f in "$1"/app.exe.tmp*; do
            [ -e "$f" ] && { rm -f "$f"; printf late >"$2"; exit 0; }; done; sleep 0.02; done' \
        sh "$out" "$archive" >/dev/null 2>&1 &
    echo "Everything is Ok"
    exit 0
    ;;
killed)
    printf 'partial' >"$archive"
    kill -KILL $$
    ;;
esac
echo "fake-7z: unknown mode '$mode'" >&2
exit 7
