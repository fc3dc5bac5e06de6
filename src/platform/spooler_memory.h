// A spooler kept in memory, for tests: printers and jobs are plain data that a test sets up and inspects,
// and every failure the monitor knows can be made to happen on one printer.
#pragma once

#include "platform/spooler.h"

#include <map>

namespace platform {

class MemorySpooler : public Spooler {
public:
  struct Printer {
    PrinterInfo2 info;
    bool connection = false;                 // enumerated as a connection rather than a local printer
    bool canOpen = true;                     // opening without defaults succeeds
    bool canAdminister = true;               // opening with administer access succeeds
    SpoolError readError = SpoolError::None; // makes getPrinter fail at this step
    bool jobsFail = false;                   // enumJobs fails
    bool controlFails = false;               // pause and resume fail
    std::vector<JobInfo1> jobs;
  };

  // Adds (or replaces) a printer; returns it for further set-up.
  Printer &add(const std::string &name, bool connection = false);
  Printer *find(const std::string &name);
  void remove(const std::string &name);
  JobInfo1 &addJob(const std::string &printer, const std::string &document);

  // What the monitor did: "pause NAME", "resume NAME", "cancel NAME ID" / "delete NAME ID", in order.
  std::vector<std::string> log;

  std::vector<std::string> enumPrinters(PrinterEnum kind) override;
  bool openPrinter(const std::string &name) override;
  PrinterRead getPrinter(const std::string &name) override;
  bool openPrinterAdminister(const std::string &name) override;
  std::optional<std::vector<JobInfo1>> enumJobs(const std::string &name) override;
  bool pausePrinter(const std::string &name) override;
  bool resumePrinter(const std::string &name) override;
  bool setJob(const std::string &name, uint32_t jobId, JobControl command) override;

private:
  std::vector<std::pair<std::string, Printer>> printers_; // in enumeration order
  uint32_t nextJobId_ = 1;
};

} // namespace platform
