#pragma once

// Internal state of the PDF writer, shared by the document code and the image loaders.

#include "pdf/writer.h"

#include <zlib.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pdf::detail {

constexpr std::uint32_t kMagic = 0x126960A1;
constexpr std::int64_t kReserved = -1;
constexpr std::int64_t kFree = -2;

// Raised inside an operation; caught at the operation boundary.
struct RaisedError {
  int number;
  std::string message;
};
// "Couldn't write PDF output (...)" with the reason of the last failed write (errno).
std::string writeFailure();
// A failed image load: recorded, the load returns -1, the document is untouched.
struct LoadFailure {
  int number;
  std::string message;
};

enum class Scope { Object, Document, Page };

class Output {
public:
  Output();
  ~Output();
  Output(const Output &) = delete;
  Output &operator=(const Output &) = delete;

  // Takes the file; closes it at close() unless it is standard output.
  void open(FILE *file, bool ownsFile);
  bool isOpen() const { return file_ != nullptr; }
  // Writes out what is buffered and closes the file; true when everything reached the file (and, with sync, the
  // disk).
  bool close(bool sync = false);

  void put(const void *data, std::size_t n);
  void put(const std::string &s) { put(s.data(), s.size()); }
  void put(const char *s);
  void putInt(std::int64_t v);
  void putReal(double v);
  std::int64_t count() const { return count_; }

  // Object numbers.
  std::int64_t reserve();
  std::int64_t beginObject();                        // the next free number, written at once
  void beginObject(std::int64_t number);             // "%ld 0 obj\n" for a reserved number
  void putRef(const char *key, std::int64_t number); // "%s %ld 0 R\n"
  std::int64_t highestObject() const { return static_cast<std::int64_t>(offsets_.size()) - 1; }
  std::int64_t offsetOf(std::int64_t number) const { return offsets_[static_cast<std::size_t>(number)]; }

  // Streams: putLengthRef() writes "/Length N 0 R\n" and remembers N; beginStream() writes "stream\n";
  // data then goes through write() (compressed when asked); endStream() writes the end and the length object.
  void putLengthRef();
  void beginStream(bool compress);
  void write(const void *data, std::size_t n);
  void endStream();
  bool inStream() const { return inStream_; }

  void setLevel(int level) { level_ = level; }
  std::array<std::uint8_t, 16> id;

  // A point the output can go back to: everything written and every object number taken after mark() is undone by
  // rollback(). Until commit() or rollback(), output that cannot be cut back afterwards (a pipe, standard output)
  // is held in memory instead of being handed to the file.
  struct Mark {
    std::int64_t count = 0;
    std::size_t objects = 0;
  };
  Mark mark();
  void commit();
  void rollback(const Mark &m);

private:
  void flush();
  void deflateChunk(const void *data, std::size_t n, int flush);

  FILE *file_ = nullptr;
  bool ownsFile_ = false;
  bool seekable_ = false;     // a regular file of ours that can be cut back
  std::int64_t fileBase_ = 0; // file offset of the first byte written
  bool holding_ = false;      // keep everything in the buffer until commit or rollback
  std::vector<std::uint8_t> buffer_;
  std::size_t used_ = 0;
  std::int64_t count_ = 0;
  std::vector<std::int64_t> offsets_; // by object number; [0] unused
  z_stream z_{};
  bool zInit_ = false;
  int level_ = 6;
  bool compress_ = false;
  bool inStream_ = false;
  std::int64_t streamStart_ = 0;
  std::int64_t lengthObject_ = 0;
  std::vector<std::uint8_t> zbuf_;
};

struct ColorSpace {
  int device = 0; // 0 gray, 1 rgb, 2 cmyk for the device entries; -1 for indexed
  int entries = 0;
  std::vector<std::uint8_t> palette; // 3 bytes per entry
  std::int64_t csObject = 0;
  std::int64_t paletteObject = 0;
  bool paletteWritten = false;
  bool csWritten = false;
};

struct XObject {
  std::int64_t object = 0;
  bool usedOnPage = false;
};

enum Filter { FilterNone = 0, FilterLZW = 1, FilterRunLength = 2, FilterCCITT = 3, FilterDCT = 4, FilterFlate = 5 };

// Delivers the bytes of one stream to a sink; returns false when reading failed part way.
using Sink = std::function<void(const void *, std::size_t)>;
using DataSource = std::function<bool(const Sink &)>;

struct ImageSlot {
  bool inUse = false;
  std::string fileName;
  int width = 0;
  int height = 0; // negative: rows are stored bottom-up
  double xres = 0, yres = 0;
  int components = 1;
  int bpc = 8;
  int colorSpace = 0;
  int filter = FilterNone;
  bool passThrough = false;
  std::string extraParms;
  int predictor = 1;
  bool invert = false;
  bool hasKey = false;
  std::array<int, 4> key{};
  int orientation = 1;
  int strips = 1;
  int rowsPerStrip = 0;
  int xobject = 0;
};

// What a loader hands to the XObject writer: the slot's description plus one data source per strip and,
// for an indexed image, its palette (3 bytes per entry).
struct LoadedImage {
  ImageSlot slot;
  std::vector<DataSource> strips;
  std::vector<std::uint8_t> palette;
  int paletteEntries = 0;
  int ccittK = 0;
  bool ccittKSet = false;
};

struct Page {
  std::int64_t object = 0;
  std::vector<std::int64_t> contents;
  std::int64_t resources = 0;
  std::array<std::array<double, 4>, 5> boxes{}; // ArtBox, BleedBox, CropBox, MediaBox, TrimBox
  int saveDepth = 0;
};
enum Box { ArtBox = 0, BleedBox = 1, CropBox = 2, MediaBox = 3, TrimBox = 4 };

class Source;

} // namespace pdf::detail

namespace pdf {

struct Writer {
  std::uint32_t magic = detail::kMagic;
  detail::Scope scope = detail::Scope::Object;
  detail::Output out;
  // A document written to a regular file goes to partName in the same folder until it is complete, then is renamed
  // to targetName; partName is empty otherwise.
  std::string targetName;
  std::string partName;
  std::vector<std::string> searchPath;
  int compressLevel = 6;
  bool warningsEnabled = true;
  std::uint64_t decodeLimit = std::uint64_t(1) << 30;
  std::map<std::string, std::shared_ptr<const std::vector<std::uint8_t>>> memoryFiles;

  std::vector<detail::ImageSlot> images;
  std::vector<detail::XObject> xobjects;
  std::vector<detail::ColorSpace> colorSpaces;
  std::vector<detail::Page> pages;
  std::vector<std::int64_t> leafNodes;

  int errnum = 0;
  std::string errmsg;
  std::string apiname;
  int recoveryDepth = 0;
  const char *currentApi = "";
  ErrorHandler handler;
};

namespace detail {
[[noreturn]] void raiseError(Writer *w, int number, const std::string &message);
void raiseWarning(Writer *w, int number, const std::string &message);
[[noreturn]] void failLoad(Writer *w, int number, const std::string &message);
void recordError(Writer *w, int number, const std::string &message);
void beginContentStream(Writer *w, Page &page);
// The body of load_image: returns the handle or -1 for a failed load; raises errors for misuse.
int loadImageBody(Writer *w, const std::string &type, const std::string &name);

// Registers an indexed colour space over DeviceRGB; returns the index of an equal existing one when there is one.
int registerIndexed(Writer *w, const std::vector<std::uint8_t> &palette, int entries);
// Writes the XObject(s) of a loaded image and returns its slot index, or throws LoadFailure.
int emitImage(Writer *w, LoadedImage &image);

// Loaders: fill `image` or throw LoadFailure (via failLoad). Nothing is written to the document.
void loadBmp(Writer *w, std::shared_ptr<Source> src, LoadedImage &image);
void loadGif(Writer *w, std::shared_ptr<Source> src, LoadedImage &image);
void loadJpeg(Writer *w, std::shared_ptr<Source> src, LoadedImage &image);
void loadPng(Writer *w, std::shared_ptr<Source> src, LoadedImage &image);
void loadTiff(Writer *w, std::shared_ptr<Source> src, LoadedImage &image);
bool isTiff(const std::shared_ptr<Source> &src);
} // namespace detail

} // namespace pdf
