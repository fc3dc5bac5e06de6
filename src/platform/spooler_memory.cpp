#include "platform/spooler_memory.h"

#include <algorithm>

namespace platform {

MemorySpooler::Printer &MemorySpooler::add(const std::string &name, bool connection) {
  if (Printer *p = find(name)) {
    *p = Printer{};
    p->info.name = name;
    p->connection = connection;
    return *p;
  }
  Printer p;
  p.info.name = name;
  p.connection = connection;
  printers_.emplace_back(name, std::move(p));
  return printers_.back().second;
}

MemorySpooler::Printer *MemorySpooler::find(const std::string &name) {
  for (auto &[n, p] : printers_)
    if (n == name)
      return &p;
  return nullptr;
}

void MemorySpooler::remove(const std::string &name) {
  std::erase_if(printers_, [&](const auto &e) { return e.first == name; });
}

JobInfo1 &MemorySpooler::addJob(const std::string &printer, const std::string &document) {
  Printer *p = find(printer);
  if (!p)
    p = &add(printer);
  JobInfo1 job;
  job.jobId = nextJobId_++;
  job.printerName = printer;
  job.document = document;
  p->jobs.push_back(job);
  return p->jobs.back();
}

std::vector<std::string> MemorySpooler::enumPrinters(PrinterEnum kind) {
  std::vector<std::string> names;
  for (const auto &[n, p] : printers_)
    if (p.connection == (kind == PrinterEnum::Connections))
      names.push_back(n);
  return names;
}

bool MemorySpooler::openPrinter(const std::string &name) {
  const Printer *p = find(name);
  return p && p->canOpen;
}

PrinterRead MemorySpooler::getPrinter(const std::string &name) {
  const Printer *p = find(name);
  if (!p || !p->canOpen)
    return {SpoolError::Open, {}};
  if (p->readError != SpoolError::None)
    return {p->readError, {}};
  return {SpoolError::None, p->info};
}

bool MemorySpooler::openPrinterAdminister(const std::string &name) {
  const Printer *p = find(name);
  return p && p->canOpen && p->canAdminister;
}

std::optional<std::vector<JobInfo1>> MemorySpooler::enumJobs(const std::string &name) {
  const Printer *p = find(name);
  if (!p || !p->canOpen || p->jobsFail)
    return std::nullopt;
  return p->jobs;
}

bool MemorySpooler::pausePrinter(const std::string &name) {
  Printer *p = find(name);
  if (!p || !p->canOpen || !p->canAdminister || p->controlFails)
    return false;
  p->info.status |= PRINTER_STATUS_PAUSED;
  log.push_back("pause " + name);
  return true;
}

bool MemorySpooler::resumePrinter(const std::string &name) {
  Printer *p = find(name);
  if (!p || !p->canOpen || !p->canAdminister || p->controlFails)
    return false;
  p->info.status &= ~uint32_t(PRINTER_STATUS_PAUSED);
  log.push_back("resume " + name);
  return true;
}

bool MemorySpooler::setJob(const std::string &name, uint32_t jobId, JobControl command) {
  Printer *p = find(name);
  if (!p || !p->canOpen)
    return false;
  const auto it = std::find_if(p->jobs.begin(), p->jobs.end(), [&](const JobInfo1 &j) { return j.jobId == jobId; });
  if (it == p->jobs.end())
    return false;
  p->jobs.erase(it);
  log.push_back((command == JobControl::Delete ? "delete " : "cancel ") + name + " " + std::to_string(jobId));
  return true;
}

} // namespace platform
