"""Runs a command once and measures it: wall time, CPU time and peak RSS of the child alone."""
import os
import shutil
import statistics
import subprocess
import time


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
    out = open(os.path.join(folder, stdout_name), "wb") if stdout_name else subprocess.DEVNULL
    try:
        start = time.perf_counter()
        child = subprocess.Popen(argv, stdout=out, stderr=subprocess.PIPE)
        # stderr is small (errors only), so reading it after the exit cannot block the child.
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
        error_text = child.stderr.read().decode(errors="replace")
        child.stderr.close()
    finally:
        if stdout_name:
            out.close()
    sample = Sample(wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0)
    return Run(sample, os.waitstatus_to_exitcode(status), error_text)


def summarize(samples):
    """Median wall and CPU times; the highest peak RSS of all runs."""
    return Sample(statistics.median(s.wall for s in samples), statistics.median(s.cpu for s in samples),
                  max(s.rss_mb for s in samples))
