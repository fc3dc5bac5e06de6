// How the CUPS states and reasons become the printer and job status bits (see spooler_cups.cpp).
#pragma once

#include "platform/spooler.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// printer-state (3 idle, 4 processing, 5 stopped), printer-state-reasons and printer-is-accepting-jobs ->
// PRINTER_STATUS_* bits.
uint32_t cupsPrinterStatus(int printerState, const std::vector<std::string> &reasons, bool acceptingJobs = true);
// job-state (3 pending .. 9 completed) and job-state-reasons -> JOB_STATUS_* bits.
uint32_t cupsJobStatus(int jobState, const std::vector<std::string> &reasons);
// printer-type (cups_ptype_t bits) -> PRINTER_ATTRIBUTE_* bits.
uint32_t cupsPrinterAttributes(uint32_t printerType);
// printer-type and device-uri -> the queue's reach: shared by another server, printing to a network address, or
// this computer's own.
QueueReach cupsQueueReach(uint32_t printerType, const std::string &deviceUri);

} // namespace platform
