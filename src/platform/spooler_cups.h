// How the CUPS states and reasons become the printer and job status bits (see spooler_cups.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// printer-state (3 idle, 4 processing, 5 stopped) and printer-state-reasons -> PRINTER_STATUS_* bits.
uint32_t cupsPrinterStatus(int printerState, const std::vector<std::string> &reasons);
// job-state (3 pending .. 9 completed) and job-state-reasons -> JOB_STATUS_* bits.
uint32_t cupsJobStatus(int jobState, const std::vector<std::string> &reasons);
// printer-type (cups_ptype_t bits) -> PRINTER_ATTRIBUTE_* bits.
uint32_t cupsPrinterAttributes(uint32_t printerType);

} // namespace platform
