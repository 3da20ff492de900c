#include "LibraryLog.h"

#include "Component.h"

namespace kxcli {

namespace {
void DropLine(void*, const OLECHAR*) {}
}  // namespace

void SilenceLibraryLog() { Component().setLogSink(&DropLine, nullptr); }

}  // namespace kxcli
