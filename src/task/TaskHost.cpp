#include "task/TaskHost.h"

#include "output/OutputFailure.h"
#include "task/FailureReport.h"

namespace kx {

void TaskHost::FailTask(const OutputFailure& failure) { FailTask(FailureReport{failure.Text(), failure.Status()}); }

}  // namespace kx
