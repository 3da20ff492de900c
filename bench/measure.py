"""Runs one command and prints its wall seconds, CPU seconds, peak RSS in KiB and exit status.

    measure.py STDOUT_FILE|- COMMAND [ARG...]

The bench starts this small process afresh for every timed run because Linux
counts, in a child's peak RSS, the memory of the process that started it (the
high-water mark of the address space that exec replaces): started straight from
the bench, every child would be charged the bench's own peak. Started from here
it is charged this process's, about 13 MB, below what any of the tools uses.
"""
import os
import sys
import time


def main():
    if len(sys.argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    stdout_path, argv = sys.argv[1], sys.argv[2:]
    target = stdout_path if stdout_path != "-" else os.devnull
    actions = [(os.POSIX_SPAWN_OPEN, 1, target, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)]
    start = time.perf_counter()
    try:
        pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=actions)
    except OSError as error:
        sys.stderr.write("cannot run %s: %s\n" % (argv[0], error))
        return 127
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    cpu = usage.ru_utime + usage.ru_stime
    print("%.6f %.6f %d %d" % (wall, cpu, usage.ru_maxrss, os.waitstatus_to_exitcode(status)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
