// A spooler kept in memory, for tests: printers and jobs are plain data that a test sets up and inspects,
// and every failure the monitor knows can be made to happen on one printer or on the whole server.
#pragma once

#include "platform/spooler.h"

namespace platform {

class MemorySpooler : public Spooler {
public:
  struct Printer {
    PrinterInfo2 info;
    bool connection = false;                 // enumerated as a connection rather than a local printer
    bool canOpen = true;                     // opening without defaults succeeds
    bool canAdminister = true;               // opening with administer access succeeds (else: denied)
    SpoolError readError = SpoolError::None; // makes getPrinter fail at this step
    bool jobsFail = false;                   // enumJobs fails
    bool controlFails = false;               // pause and resume fail
    std::vector<JobInfo1> jobs;
  };

  // Adds (or replaces) a printer; returns it for further set-up. Its reach follows the name and port as on
  // Windows: a name beginning with two backslashes is shared by another computer, a port beginning with "IP" is a
  // network port.
  Printer &add(const std::string &name, bool connection = false);
  Printer *find(const std::string &name);
  void remove(const std::string &name);
  // A job of this spooler's user unless the test changes userName.
  JobInfo1 &addJob(const std::string &printer, const std::string &document);

  // What the monitor did: "pause NAME", "resume NAME", "cancel NAME ID" / "delete NAME ID", in order.
  std::vector<std::string> log;
  // No server answers: every request fails with SpoolStatus::NoServer.
  bool serverDown = false;
  // The user the requests are made for.
  std::string user = "tester";
  // Number of snapshots taken.
  int snapshots = 0;

  SpoolerSnapshot snapshot() override;
  PrinterRead getPrinter(const std::string &name) override;
  bool openPrinterAdminister(const std::string &name) override;
  std::optional<std::vector<JobInfo1>> enumJobs(const std::string &name) override;
  std::optional<JobInfo1> getJob(const std::string &printer, uint32_t jobId) override;
  bool pausePrinter(const std::string &name) override;
  bool resumePrinter(const std::string &name) override;
  bool setJob(const std::string &name, uint32_t jobId, JobControl command) override;
  SpoolStatus lastStatus() const override { return last_; }
  std::string userName() const override { return user; }

private:
  // Looks the printer up for a request; sets the status of the request.
  Printer *reach(const std::string &name);
  bool control(const std::string &name, bool pause);
  std::vector<std::pair<std::string, Printer>> printers_; // in enumeration order
  uint32_t nextJobId_ = 1;
  SpoolStatus last_ = SpoolStatus::Ok;
};

} // namespace platform
