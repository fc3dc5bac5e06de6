// The words the monitor shows for printer and job states, and the submitted time of a job.
#pragma once

#include <QLocale>
#include <QTimeZone>

#include <cstdint>
#include <optional>
#include <string>

namespace monitor {

// The printer status words joined by "-" in their fixed order; "Ready" when none is set.
std::string printerStatusText(uint32_t status);
// The job status words joined by "-" in their fixed order; empty when none is set.
std::string jobStatusText(uint32_t status);
// The spooler's own status text when it gives one, else the job status words.
std::string jobStatusCell(const std::optional<std::string> &spoolerText, uint32_t status);
// The submitted time in the given zone: the locale's long time, one blank, the locale's short date.
std::string submittedText(int64_t utcSeconds, const QTimeZone &zone = QTimeZone::systemTimeZone(),
                          const QLocale &locale = QLocale::system());

} // namespace monitor
