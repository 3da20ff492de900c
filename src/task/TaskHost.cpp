#include "task/TaskHost.h"

#include "api/InputReports.h"
#include "output/OutputFailure.h"

namespace kx {

void TaskHost::FailTask(const OutputFailure& failure) { FailTask(FailureReport{failure.Text(), failure.Status()}); }

}  // namespace kx
