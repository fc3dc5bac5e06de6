#include "platform/spooler_memory.h"

#include <algorithm>

namespace platform {

MemorySpooler::Printer &MemorySpooler::add(const std::string &name, bool connection) {
  Printer *p = find(name);
  if (!p)
    p = &printers_.emplace_back(name, Printer{}).second;
  *p = Printer{};
  p->info.name = name;
  p->connection = connection;
  p->info.reach = name.rfind("\\\\", 0) == 0 ? QueueReach::Shared : QueueReach::Local;
  return *p;
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
  job.userName = user;
  p->jobs.push_back(job);
  return p->jobs.back();
}

MemorySpooler::Printer *MemorySpooler::reach(const std::string &name) {
  if (serverDown) {
    last_ = SpoolStatus::NoServer;
    return nullptr;
  }
  Printer *p = find(name);
  last_ = p && p->canOpen ? SpoolStatus::Ok : SpoolStatus::Failed;
  return last_ == SpoolStatus::Ok ? p : nullptr;
}

static PrinterInfo2 withReach(PrinterInfo2 info) {
  if (info.reach == QueueReach::Local && info.port.rfind("IP", 0) == 0)
    info.reach = QueueReach::Network;
  return info;
}

SpoolerSnapshot MemorySpooler::snapshot() {
  ++snapshots;
  SpoolerSnapshot snap;
  last_ = serverDown ? SpoolStatus::NoServer : SpoolStatus::Ok;
  if (serverDown)
    return snap;
  snap.reachable = true;
  for (const auto &[n, p] : printers_) {
    if (!p.canOpen)
      continue; // the server does not list it
    PrinterInfo2 info = withReach(p.info);
    if (p.readError != SpoolError::None)
      info.port.clear(), info.datatype.clear(), info.status = 0; // listed without a readable record
    (p.connection ? snap.connections : snap.local).push_back(std::move(info));
    if (!p.jobs.empty() && !p.jobsFail)
      snap.jobs[n] = p.jobs;
  }
  return snap;
}

PrinterRead MemorySpooler::getPrinter(const std::string &name) {
  const Printer *p = reach(name);
  if (!p)
    return {SpoolError::Open, {}};
  if (p->readError != SpoolError::None)
    return {p->readError, {}};
  return {SpoolError::None, withReach(p->info)};
}

bool MemorySpooler::openPrinterAdminister(const std::string &name) {
  const Printer *p = reach(name);
  if (p && !p->canAdminister)
    last_ = SpoolStatus::Denied;
  return p && p->canAdminister;
}

std::optional<std::vector<JobInfo1>> MemorySpooler::enumJobs(const std::string &name) {
  const Printer *p = reach(name);
  if (!p || p->jobsFail)
    return std::nullopt;
  return p->jobs;
}

std::optional<JobInfo1> MemorySpooler::getJob(const std::string &printer, uint32_t jobId) {
  const Printer *p = reach(printer);
  if (!p)
    return std::nullopt;
  for (const JobInfo1 &j : p->jobs)
    if (j.jobId == jobId)
      return j;
  last_ = SpoolStatus::Failed;
  return std::nullopt;
}

bool MemorySpooler::control(const std::string &name, bool pause) {
  Printer *p = reach(name);
  if (!p)
    return false;
  if (!p->canAdminister || p->controlFails) {
    last_ = p->canAdminister ? SpoolStatus::Failed : SpoolStatus::Denied;
    return false;
  }
  if (pause)
    p->info.status |= PRINTER_STATUS_PAUSED;
  else
    p->info.status &= ~uint32_t(PRINTER_STATUS_PAUSED);
  log.push_back((pause ? "pause " : "resume ") + name);
  return true;
}

bool MemorySpooler::pausePrinter(const std::string &name) { return control(name, true); }
bool MemorySpooler::resumePrinter(const std::string &name) { return control(name, false); }

bool MemorySpooler::setJob(const std::string &name, uint32_t jobId, JobControl command) {
  Printer *p = reach(name);
  if (!p)
    return false;
  const auto it = std::find_if(p->jobs.begin(), p->jobs.end(), [&](const JobInfo1 &j) { return j.jobId == jobId; });
  if (it == p->jobs.end() || (it->userName != user && user != "root")) {
    last_ = it == p->jobs.end() ? SpoolStatus::Failed : SpoolStatus::Denied;
    return false;
  }
  p->jobs.erase(it);
  log.push_back((command == JobControl::Delete ? "delete " : "cancel ") + name + " " + std::to_string(jobId));
  return true;
}

} // namespace platform
