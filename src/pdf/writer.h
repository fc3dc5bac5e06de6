#pragma once

// The PDF writer: a document is begun on a file, pages are begun and ended one after the other, images are loaded
// into the document as image XObjects and placed on pages, and ending the document writes the page objects, the
// page tree, the catalog, the cross-reference table and the trailer. The file is written front to back.
//
// Every operation checks the writer's magic first; on a null or foreign pointer it does nothing and returns its
// failure value. Errors never end the process: an operation that raises an error records the number, text and
// operation name (get_errnum, get_errmsg, get_apiname), abandons the open document and returns its failure value,
// or, when the caller has set a recovery point, throws pdf::Exception. Warnings are recorded and otherwise silent
// unless a recovery point is set.
//
// A document bound for a regular file is written under a hidden temporary name in the same folder and renamed to
// its own name by a successful end_document. An abandoned document (an error, or delete without end_document)
// leaves nothing behind, and a file that already had the name stays as it was.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace pdf {

struct Writer;

// Error numbers the writer raises itself (image loading numbers are listed in image_errors below).
enum ErrorNumber : int {
  ErrNoMemory = 1000,
  ErrWrite = 1014,
  ErrZlib = 1050,
  ErrNotOfKind = 1054,
  ErrDecodeRead = 1056,
  ErrImageType = 1100,
  ErrImageKeyword = 1110,
  ErrNegativePageSize = 1120,
  ErrBadHandle = 1130,
  ErrOpenFile = 1010,
  ErrScope = 2100,
  WarnPageSize = 2110,
  ErrEmptyMediaBox = 2170,
  ErrUnbalancedSave = 2200,
  WarnUnusedObject = 1904,
  ErrNumberTooLarge = 1906,
};

// Handler type codes passed to an error handler.
constexpr int kErrorTypeWarning = 11;
constexpr int kErrorTypeError = 12;

// Thrown out of an operation only while a recovery point is set.
class Exception : public std::runtime_error {
public:
  Exception(int number, const std::string &message, const std::string &apiName)
      : std::runtime_error(message), number_(number), apiName_(apiName) {}
  int number() const { return number_; }
  const std::string &apiName() const { return apiName_; }

private:
  int number_;
  std::string apiName_;
};

struct WriterDeleter {
  void operator()(Writer *w) const;
};
using WriterPtr = std::unique_ptr<Writer, WriterDeleter>;

// `new`: a writer object in object scope, or null when memory is short.
WriterPtr new_writer();
// `delete`: abandons an open document (its partial file is removed), frees everything, clears the magic.
// Takes ownership: pass writer.release().
void delete_writer(Writer *w);

// Key "SearchPath" adds a directory to the file search path (searched newest first); "warning" with "false" or
// "true" disables or enables warnings. Other keys are ignored.
void set_parameter(Writer *w, const std::string &key, const std::string &value);

// Begins a document for the file ("-" is standard output; a device is written directly). nameLength 0 means the
// whole text. Returns 1, or -1 when the file cannot be written (the writer stays in object scope).
int begin_document(Writer *w, const char *fileName, int nameLength, const std::string &options);

// The remaining operations return 1 on success and -1 when they raised an error (they return normally only when
// no recovery point is set).
int end_document(Writer *w, const std::string &options);
int begin_page_ext(Writer *w, double width, double height, const std::string &options);
int end_page_ext(Writer *w, const std::string &options);

// Image type "auto", "bmp", "gif", "jpeg", "png" or "tiff". Returns the image handle (0 or more) or -1; a failed
// load leaves the document as it was and records the error number and the file name.
int load_image(Writer *w, const std::string &type, const char *fileName, int nameLength, const std::string &options);
// Places the image with its lower left corner at (x, y); "adjustpage" makes the page exactly as large as the
// image plus twice the offsets.
int fit_image(Writer *w, int image, double x, double y, const std::string &options);
int close_image(Writer *w, int image);

int get_errnum(const Writer *w);
std::string get_errmsg(const Writer *w);
std::string get_apiname(const Writer *w);

// Recovery points: while at least one is set, an error (and an enabled warning) throws pdf::Exception out of the
// operation instead of returning its failure value. The document is abandoned in both cases of an error.
void push_recovery_point(Writer *w);
void pop_recovery_point(Writer *w);

// Sets a recovery point for the lifetime of the object.
class RecoveryPoint {
public:
  explicit RecoveryPoint(Writer *w) : w_(w) { push_recovery_point(w_); }
  ~RecoveryPoint() { pop_recovery_point(w_); }
  RecoveryPoint(const RecoveryPoint &) = delete;
  RecoveryPoint &operator=(const RecoveryPoint &) = delete;

private:
  Writer *w_;
};

// Called for every error (type 12) and every enabled warning (type 11) when no recovery point is set. The default
// handler does nothing.
using ErrorHandler = std::function<void(Writer *, int type, const std::string &message)>;
void set_error_handler(Writer *w, ErrorHandler handler);

// In-memory files are found by name before the file system.
void add_memory_file(Writer *w, const std::string &name, std::vector<std::uint8_t> data);
void remove_memory_file(Writer *w, const std::string &name);

// Upper bound for the samples of one decoded image held in memory (default 1 GiB).
void set_decode_memory_limit(Writer *w, std::uint64_t bytes);

// Writes a real number by the document's rule: below 0.000015 in magnitude 0; from 32768 on rounded to an integer;
// otherwise rounded to 4 fraction digits without trailing zeros. False for a magnitude above 2147483647.
bool FormatReal(double value, std::string *out);

} // namespace pdf
