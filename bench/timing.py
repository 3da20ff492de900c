"""Runs a command once and measures it: wall time, CPU time and peak RSS of the child alone."""
import os
import shutil
import statistics
import subprocess
import sys

# The small process that starts and measures each run (see there why).
MEASURE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "measure.py")


class Sample:
    def __init__(self, wall, cpu, rss_mb):
        self.wall = wall
        self.cpu = cpu  # user + system seconds of the child and its threads
        self.rss_mb = rss_mb


class Run:
    def __init__(self, sample, exit_code, error_text):
        self.sample = sample
        self.exit_code = exit_code
        self.error_text = error_text

    @property
    def ok(self):
        return self.exit_code == 0


def fresh_folder(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)


def run_once(argv, folder, stdout_name=None):
    """Runs `argv` with an empty `folder` for its outputs; stdout goes to folder/stdout_name or nowhere."""
    fresh_folder(folder)
    os.sync()  # write-back of the previous run is not charged to this one
    stdout_path = os.path.join(folder, stdout_name) if stdout_name else "-"
    measured = subprocess.run([sys.executable, MEASURE, stdout_path] + list(argv),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    error_text = measured.stderr.decode(errors="replace")
    fields = measured.stdout.decode().split()
    if measured.returncode != 0 or len(fields) != 4:
        return Run(None, measured.returncode or 1, error_text)
    wall, cpu, rss_kib, exit_code = float(fields[0]), float(fields[1]), int(fields[2]), int(fields[3])
    return Run(Sample(wall, cpu, rss_kib / 1024.0), exit_code, error_text)


def summarize(samples):
    """Median wall and CPU times; the highest peak RSS of all runs."""
    return Sample(statistics.median(s.wall for s in samples), statistics.median(s.cpu for s in samples),
                  max(s.rss_mb for s in samples))
