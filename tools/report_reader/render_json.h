// The readings as JSON, for a ticket system: one object per report found
// (or one that says none was), in the order they stand. The fields are
// documented in the README ("Reading a report as JSON"); texts are UTF-8,
// a byte of a device's name that is not is written as U+FFFD.
#pragma once

#include "tools/report_reader/findings.h"
#include "tools/report_reader/render.h"

namespace report_reader {

void RenderJson(const Readings& readings, const Sink& out);

} // namespace report_reader
