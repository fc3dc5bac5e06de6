// The print spooler as the printer monitor sees it: printers, their level-2 records, their jobs, and the
// pause, resume and cancel commands. Two implementations: one on the CUPS server (spooler_cups.cpp) and one
// in memory for tests (spooler_memory.h).
// Every call stands on its own: there are no open printer handles between calls.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Printer status bits of a level-2 record.
enum : uint32_t {
  PRINTER_STATUS_PAUSED = 0x1,
  PRINTER_STATUS_ERROR = 0x2,
  PRINTER_STATUS_PENDING_DELETION = 0x4,
  PRINTER_STATUS_PAPER_JAM = 0x8,
  PRINTER_STATUS_PAPER_OUT = 0x10,
  PRINTER_STATUS_MANUAL_FEED = 0x20,
  PRINTER_STATUS_PAPER_PROBLEM = 0x40,
  PRINTER_STATUS_OFFLINE = 0x80,
  PRINTER_STATUS_IO_ACTIVE = 0x100,
  PRINTER_STATUS_BUSY = 0x200,
  PRINTER_STATUS_PRINTING = 0x400,
  PRINTER_STATUS_OUTPUT_BIN_FULL = 0x800,
  PRINTER_STATUS_NOT_AVAILABLE = 0x1000,
  PRINTER_STATUS_WAITING = 0x2000,
  PRINTER_STATUS_PROCESSING = 0x4000,
  PRINTER_STATUS_INITIALIZING = 0x8000,
  PRINTER_STATUS_WARMING_UP = 0x10000,
  PRINTER_STATUS_TONER_LOW = 0x20000,
  PRINTER_STATUS_NO_TONER = 0x40000,
  PRINTER_STATUS_PAGE_PUNT = 0x80000,
  PRINTER_STATUS_USER_INTERVENTION = 0x100000,
  PRINTER_STATUS_OUT_OF_MEMORY = 0x200000,
  PRINTER_STATUS_DOOR_OPEN = 0x400000,
  PRINTER_STATUS_SERVER_UNKNOWN = 0x800000,
  PRINTER_STATUS_POWER_SAVE = 0x1000000,
};

// Job status bits of a level-1 job record.
enum : uint32_t {
  JOB_STATUS_PAUSED = 0x1,
  JOB_STATUS_ERROR = 0x2,
  JOB_STATUS_DELETING = 0x4,
  JOB_STATUS_SPOOLING = 0x8,
  JOB_STATUS_PRINTING = 0x10,
  JOB_STATUS_OFFLINE = 0x20,
  JOB_STATUS_PAPEROUT = 0x40,
  JOB_STATUS_PRINTED = 0x80,
  JOB_STATUS_DELETED = 0x100,
  JOB_STATUS_BLOCKED_DEVQ = 0x200,
  JOB_STATUS_USER_INTERVENTION = 0x400,
  JOB_STATUS_RESTART = 0x800,
  JOB_STATUS_COMPLETE = 0x1000,
  JOB_STATUS_RETAINED = 0x2000,
};

// Printer attribute bits (the queue's kind).
enum : uint32_t {
  PRINTER_ATTRIBUTE_QUEUED = 0x1,
  PRINTER_ATTRIBUTE_SHARED = 0x8,
  PRINTER_ATTRIBUTE_NETWORK = 0x10,
  PRINTER_ATTRIBUTE_LOCAL = 0x40,
  PRINTER_ATTRIBUTE_RAW_ONLY = 0x1000,
};

// States of a queue that have no printer status bit of their own: the queue refuses new jobs, or it takes them
// but holds them. Kept in the status word above the bits the spooler defines.
enum : uint32_t {
  PRINTER_STATUS_REJECTING_JOBS = 0x40000000,
  PRINTER_STATUS_HOLDING_NEW_JOBS = 0x20000000,
};

enum class PrinterEnum { Local = 2, Connections = 4 };
enum class JobControl { Cancel = 3, Delete = 5 };

// How reading a printer's level-2 record went, step by step as the monitor reports it.
enum class SpoolError {
  None,
  Open,  // the printer cannot be opened (unknown printer, no server)
  Size,  // opened, but no record size: the server answered no record
  Alloc, // no room for the record
  Read,  // the record could not be read
};

// How the last request went, beyond success or failure.
enum class SpoolStatus {
  Ok,
  NoServer, // no print server answered (not running, unreachable, or it hangs)
  Denied,   // the server refused it for lack of rights (administering a queue, another user's job)
  Failed,   // any other refusal (unknown queue or job, a state that does not allow it)
};

// Where a queue prints to, as far as preparing it for capture goes. Queues that another computer shares and
// queues whose device is a network address are never paused or emptied by the preparation and cancel commands:
// they are not this computer's own.
enum class QueueReach {
  Local,   // a queue of this computer with a device of its own
  Shared,  // a queue that another server shares (a connection to another computer's printer)
  Network, // a queue of this computer whose device is a network address (a TCP/IP port)
};

struct PrinterInfo2 {
  std::string name;
  std::string port;     // where the queue prints to
  std::string datatype; // the queue's default document format
  uint32_t attributes = 0;
  uint32_t status = 0; // PRINTER_STATUS_* bits
  QueueReach reach = QueueReach::Local;
};

struct PrinterRead {
  SpoolError error = SpoolError::Open;
  PrinterInfo2 info; // valid when error == None
};

struct JobInfo1 {
  uint32_t jobId = 0;
  std::string printerName;
  std::string machineName; // the host that submitted the job
  std::string userName;    // the user who submitted it
  std::string document;
  std::string datatype;
  std::optional<std::string> statusText; // the spooler's own status text, when it gives one
  uint32_t status = 0;                   // JOB_STATUS_* bits
  uint32_t totalPages = 0;
  int64_t submittedUtc = 0; // seconds since 1970-01-01 UTC
};

// Everything one refresh of the monitor needs, read in as few requests as the spooler allows.
struct SpoolerSnapshot {
  bool reachable = false; // false: no print server answered; nothing else is valid
  std::vector<PrinterInfo2> local;
  std::vector<PrinterInfo2> connections;
  std::map<std::string, std::vector<JobInfo1>> jobs; // the not yet completed jobs, by printer name
  int64_t elapsedMs = 0;                             // how long the server took to answer all of it
};

class Spooler {
public:
  virtual ~Spooler() = default;
  // All printers (local ones and connections, each in the spooler's order) with their records and jobs.
  virtual SpoolerSnapshot snapshot() = 0;
  // The level-2 record of one printer, read now.
  virtual PrinterRead getPrinter(const std::string &name) = 0;
  // Opening with administer access: the spooler accepts an administrative request from this user.
  virtual bool openPrinterAdminister(const std::string &name) = 0;
  // The jobs of a printer at level 1; nothing when the printer cannot be opened or asked.
  virtual std::optional<std::vector<JobInfo1>> enumJobs(const std::string &name) = 0;
  // One job of a printer, also when it has completed; nothing when it is unknown or cannot be asked.
  virtual std::optional<JobInfo1> getJob(const std::string &printer, uint32_t jobId) = 0;
  virtual bool pausePrinter(const std::string &name) = 0;
  virtual bool resumePrinter(const std::string &name) = 0;
  virtual bool setJob(const std::string &name, uint32_t jobId, JobControl command) = 0;
  // How the last request of this spooler went.
  virtual SpoolStatus lastStatus() const = 0;
  // The user the requests are made for.
  virtual std::string userName() const = 0;
};

// The spooler of this machine: the CUPS server that libcups finds (CUPS_SERVER, client.conf, the local socket).
std::unique_ptr<Spooler> makeCupsSpooler();

} // namespace platform
