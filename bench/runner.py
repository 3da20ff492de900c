"""Runs a job: a checked warm-up run of every tool, then timed rounds in a rotating order."""
import shutil

import checks
import placement
import timing


class ToolResult:
    def __init__(self, tool):
        self.tool = tool
        self.samples = []
        self.failure = None  # why its outputs or its exit do not count
        self.check_text = ""

    @property
    def name(self):
        return self.tool.name

    @property
    def ok(self):
        return self.failure is None

    def summary(self):
        return timing.summarize(self.samples) if self.ok and self.samples else None


class JobResult:
    def __init__(self, job):
        self.job = job
        self.tools = {tool.name: ToolResult(tool) for tool in job.tools}

    def summary(self, name):
        result = self.tools.get(name)
        return result.summary() if result else None


def exit_failure(run):
    lines = [line for line in run.error_text.strip().splitlines() if line.strip()]
    return "exit status %d%s" % (run.exit_code, ": " + lines[-1] if lines else "")


def warm_up_tool(job, result, our_outputs):
    """One untimed run that brings the inputs into the page cache, and the check of what it wrote."""
    tool = result.tool
    if tool.derive:
        if not our_outputs:
            result.failure = "its command is made from our outputs, and we wrote none"
            return []
        try:
            tool.argv = tool.derive(our_outputs)
        except placement.PlacementError as error:
            result.failure = "its command is made from our outputs: %s" % error
            return []
    run = timing.run_once(tool.argv, job.folder(tool), tool.stdout_name)
    if not run.ok:
        result.failure = exit_failure(run)
        return []
    outputs = checks.outputs_in(job.folder(tool))
    verdict = checks.check(job, tool, outputs, our_outputs)
    result.check_text = verdict.text
    if not verdict.ok:
        result.failure = verdict.text
    return outputs


def warm_up(job, result):
    our_outputs = []
    for tool in job.tools:  # ours first: a peer's command may be made from our outputs
        outputs = warm_up_tool(job, result.tools[tool.name], our_outputs)
        if tool.name == "us":
            our_outputs = outputs


def rotated(names, by):
    by %= max(1, len(names))
    return names[by:] + names[:by]


def time_rounds(job, result, runs):
    for round_index in range(runs):
        # Each round another tool goes first, so that none always follows the same neighbour.
        names = [name for name, tool in result.tools.items() if tool.ok]
        for name in rotated(names, round_index):
            tool_result = result.tools[name]
            run = timing.run_once(tool_result.tool.argv, job.folder(tool_result.tool), tool_result.tool.stdout_name)
            if run.ok:
                tool_result.samples.append(run.sample)
            else:
                tool_result.failure = "round %d: %s" % (round_index + 1, exit_failure(run))


def run_job(job, runs):
    result = JobResult(job)
    try:
        warm_up(job, result)
        time_rounds(job, result, runs)
    finally:
        shutil.rmtree(job.out_root, ignore_errors=True)
    return result
