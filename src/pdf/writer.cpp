#include "pdf/writer_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>

namespace pdf {

using namespace detail;

namespace {

bool valid(const Writer *w) { return w != nullptr && w->magic == kMagic; }

const char *scopeName(Scope s) {
  switch (s) {
  case Scope::Object:
    return "object";
  case Scope::Document:
    return "document";
  case Scope::Page:
    return "page";
  }
  return "object";
}

// Releases everything that belongs to the open document and returns to object scope. What was written of an
// unfinished document is removed; a file of the same name from before stays as it was.
void abandonDocument(Writer *w) {
  if (w->out.isOpen())
    w->out.close();
  if (!w->partName.empty())
    ::unlink(w->partName.c_str());
  w->partName.clear();
  w->targetName.clear();
  w->images.clear();
  w->xobjects.clear();
  w->colorSpaces.clear();
  w->pages.clear();
  w->leafNodes.clear();
  w->scope = Scope::Object;
}

void record(Writer *w, int number, const std::string &message) {
  w->errnum = number;
  w->errmsg = message;
  w->apiname = w->currentApi;
}

int onError(Writer *w, const RaisedError &e) {
  if (w->errnum != e.number || w->errmsg != e.message)
    record(w, e.number, e.message);
  abandonDocument(w);
  if (w->recoveryDepth > 0)
    throw Exception(w->errnum, w->errmsg, w->apiname);
  if (w->handler)
    w->handler(w, kErrorTypeError, w->errmsg);
  return -1;
}

// Runs one operation: checks the magic and the scope, turns raised errors into the failure value (or an
// exception while a recovery point is set).
template <class F> int guarded(Writer *w, const char *api, unsigned allowedScopes, F &&body) {
  if (!valid(w))
    return -1;
  w->currentApi = api;
  try {
    unsigned bit = 1u << static_cast<unsigned>(w->scope);
    if ((allowedScopes & bit) == 0)
      raiseError(w, ErrScope, std::string("Function must not be called in '") + scopeName(w->scope) + "' scope");
    return body();
  } catch (const RaisedError &e) {
    return onError(w, e);
  } catch (const std::bad_alloc &) {
    return onError(w, RaisedError{ErrNoMemory, "Out of memory"});
  }
}

constexpr unsigned kObjectScope = 1u << static_cast<unsigned>(Scope::Object);
constexpr unsigned kDocumentScope = 1u << static_cast<unsigned>(Scope::Document);
constexpr unsigned kPageScope = 1u << static_cast<unsigned>(Scope::Page);
constexpr unsigned kAnyScope = kObjectScope | kDocumentScope | kPageScope;

std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// The file identifier: equal halves within one document, different between documents (time, process, a
// process-wide counter, the file name and the system's random source all go into it).
std::array<std::uint8_t, 16> makeIdentifier(const std::string &fileName) {
  static std::atomic<std::uint64_t> counter{0};
  std::uint64_t h = mix(static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()));
  h = mix(h ^ static_cast<std::uint64_t>(getpid()));
  h = mix(h ^ counter.fetch_add(1));
  for (char c : fileName)
    h = mix(h ^ static_cast<unsigned char>(c));
  std::uint64_t r = 0;
  try {
    std::random_device rd;
    r = (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
  } catch (...) {
  }
  std::uint64_t a = mix(h ^ r), b = mix(a ^ 0x5DEECE66Dull);
  std::array<std::uint8_t, 16> id{};
  for (int i = 0; i < 8; ++i) {
    id[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(a >> (8 * i));
    id[static_cast<std::size_t>(8 + i)] = static_cast<std::uint8_t>(b >> (8 * i));
  }
  return id;
}

void putBoxValue(Output &out, const char *name, const std::array<double, 4> &box) {
  out.put("/");
  out.put(name);
  out.put("[");
  for (int i = 0; i < 4; ++i) {
    if (i)
      out.put(" ");
    out.putReal(box[static_cast<std::size_t>(i)]);
  }
  out.put("]\n");
}

bool boxSet(const std::array<double, 4> &box) { return box[0] != 0 || box[1] != 0 || box[2] != 0 || box[3] != 0; }

// The permission bits a newly created file gets from this process.
mode_t newFileMode() {
  mode_t mask = 022;
  if (FILE *f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f))
      if (std::strncmp(line, "Umask:", 6) == 0) {
        mask = static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8)) & 0777;
        break;
      }
    std::fclose(f);
  }
  return 0666 & ~mask;
}

// Opens the file of a new document. A regular file, or a name not taken yet, is written under a hidden name in
// the same folder and takes its own name only when the document is complete (a failed or abandoned document
// then never leaves a half-written file behind, nor destroys the one it would have replaced); a device or pipe, and
// a file in a folder that takes no new files, are written directly. Null with errno set when the file cannot be
// written.
FILE *openDocumentFile(Writer *w, const std::string &name) {
  struct stat st {};
  std::string target = name;
  mode_t mode;
  if (::stat(name.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      errno = EISDIR;
      return nullptr;
    }
    if (!S_ISREG(st.st_mode))
      return std::fopen(name.c_str(), "wb");
    if (::access(name.c_str(), W_OK) != 0)
      return nullptr;
    // Through a link the document replaces the file the link points to, as writing the name itself would.
    if (char *real = ::realpath(name.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
    mode = st.st_mode & 07777;
  } else {
    if (errno != ENOENT)
      return nullptr;
    mode = newFileMode();
  }
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  // Kept well below the longest file name a folder takes.
  const std::string base = (slash == std::string::npos ? target : target.substr(slash + 1)).substr(0, 200);
  std::string part = folder + "." + base + ".XXXXXX";
  int fd = ::mkostemp(part.data(), O_CLOEXEC);
  if (fd < 0) {
    // A writable file in a folder that takes no new files can still be written in place.
    if (S_ISREG(st.st_mode) && (errno == EACCES || errno == EPERM || errno == EROFS))
      return std::fopen(name.c_str(), "wb");
    return nullptr;
  }
  ::fchmod(fd, mode);
  FILE *file = ::fdopen(fd, "wb");
  if (!file) {
    const int saved = errno;
    ::close(fd);
    ::unlink(part.c_str());
    errno = saved;
    return nullptr;
  }
  w->partName = part;
  w->targetName = target;
  return file;
}

} // namespace

void detail::beginContentStream(Writer *w, Page &page) {
  std::int64_t obj = w->out.reserve();
  page.contents.push_back(obj);
  w->out.beginObject(obj);
  w->out.put("<<");
  w->out.putLengthRef();
  w->out.put("/Filter/FlateDecode\n");
  w->out.put(">>\n");
  w->out.beginStream(true);
}

namespace {

void checkPageSize(Writer *w, double width, double height) {
  if (width < 3 || width > 14400 || height < 3 || height > 14400) {
    std::string ws, hs;
    FormatReal(width, &ws);
    FormatReal(height, &hs);
    raiseWarning(w, WarnPageSize, "Page size " + ws + " x " + hs + " points is outside the range 3 to 14400 points");
  }
}

// Writes one /Pages object with its kids (object numbers) and page count.
void writePagesObject(Output &out, std::int64_t object, std::size_t count, std::int64_t parent, bool root,
                      const std::vector<std::int64_t> &kids) {
  out.beginObject(object);
  out.put("<<");
  out.put("/Type/Pages\n");
  out.put("/Count ");
  out.putInt(static_cast<std::int64_t>(count));
  out.put("\n");
  if (!root)
    out.putRef("/Parent", parent);
  out.put("/Kids");
  out.put("[");
  for (std::int64_t k : kids) {
    out.put(" ");
    out.putInt(k);
    out.put(" 0 R");
  }
  out.put("]");
  out.put(">>\n");
  out.put("endobj\n");
}

// Writes the page tree node for `count` pages starting at page `first`; returns its object number.
std::int64_t writeTreeNode(Writer *w, std::size_t first, std::size_t count, std::int64_t parent, bool root) {
  Output &out = w->out;
  std::vector<std::int64_t> kids;
  if (count <= 10 && (first % 10) == 0) {
    const std::int64_t leaf = w->leafNodes[first / 10];
    for (std::size_t i = first; i < first + count; ++i)
      kids.push_back(w->pages[i].object);
    writePagesObject(out, leaf, count, parent, root, kids);
    return leaf;
  }
  const std::int64_t node = out.reserve();
  std::size_t m = 10;
  while (m * 10 < count)
    m *= 10;
  for (std::size_t start = first; start < first + count; start += m) {
    const std::size_t n = std::min(m, first + count - start);
    kids.push_back(writeTreeNode(w, start, n, node, false));
  }
  writePagesObject(out, node, count, parent, root, kids);
  return node;
}

void writeIndexedColorSpaces(Writer *w) {
  Output &out = w->out;
  for (ColorSpace &cs : w->colorSpaces) {
    if (cs.device >= 0 || cs.csWritten || cs.csObject == 0)
      continue;
    out.beginObject(cs.csObject);
    out.put("[");
    out.put("/Indexed");
    out.put("/DeviceRGB");
    out.put(" ");
    out.putInt(cs.entries - 1);
    out.put(" ");
    out.putInt(cs.paletteObject);
    out.put(" 0 R");
    out.put("]");
    out.put("\n");
    out.put("endobj\n");
    cs.csWritten = true;
  }
}

} // namespace

namespace detail {

void raiseError(Writer *w, int number, const std::string &message) {
  record(w, number, message);
  throw RaisedError{number, message};
}

void raiseWarning(Writer *w, int number, const std::string &message) {
  if (!w->warningsEnabled)
    return;
  record(w, number, message);
  if (w->recoveryDepth > 0)
    throw RaisedError{number, message};
  if (w->handler)
    w->handler(w, kErrorTypeWarning, message);
}

void recordError(Writer *w, int number, const std::string &message) { record(w, number, message); }

void failLoad(Writer *w, int number, const std::string &message) {
  record(w, number, message);
  throw LoadFailure{number, message};
}

} // namespace detail

void WriterDeleter::operator()(Writer *w) const { delete_writer(w); }

WriterPtr new_writer() {
  try {
    auto w = std::make_unique<Writer>();
    w->colorSpaces.reserve(8);
    return WriterPtr(w.release());
  } catch (const std::bad_alloc &) {
    return WriterPtr();
  }
}

void delete_writer(Writer *w) {
  if (!valid(w))
    return;
  std::unique_ptr<Writer> owner(w);
  abandonDocument(w);
  w->magic = 0;
}

void set_parameter(Writer *w, const std::string &key, const std::string &value) {
  guarded(w, "set_parameter", kAnyScope, [&] {
    if (key == "SearchPath") {
      if (!value.empty())
        w->searchPath.push_back(value);
    } else if (key == "warning") {
      w->warningsEnabled = value != "false";
    }
    return 1;
  });
}

int begin_document(Writer *w, const char *fileName, int nameLength, const std::string &options) {
  (void)options;
  return guarded(w, "begin_document", kObjectScope, [&] {
    std::string name;
    if (fileName)
      name = nameLength > 0 ? std::string(fileName, strnlen(fileName, static_cast<std::size_t>(nameLength)))
                            : std::string(fileName);
    FILE *file = nullptr;
    bool owns = true;
    if (name == "-") {
      file = stdout;
      owns = false;
    } else if (!name.empty()) {
      file = openDocumentFile(w, name);
    }
    if (!file) {
      const char *why = name.empty() ? "empty file name" : std::strerror(errno);
      record(w, ErrOpenFile, "Couldn't open PDF file '" + name + "' for writing (" + why + ")");
      return -1;
    }
    w->out.setLevel(w->compressLevel);
    w->out.open(file, owns);
    w->out.id = makeIdentifier(name);
    w->colorSpaces.clear();
    for (int d = 0; d < 3; ++d) {
      ColorSpace cs;
      cs.device = d;
      w->colorSpaces.push_back(cs);
    }
    w->pages.clear();
    w->pages.reserve(512);
    w->images.clear();
    w->xobjects.clear();
    w->leafNodes.clear();
    w->scope = Scope::Document;

    Output &out = w->out;
    static const unsigned char binary[6] = {0x25, 0xE4, 0xE3, 0xCF, 0xD2, 0x0A};
    out.put("%PDF-1.5\n");
    out.put(binary, sizeof binary);
    out.beginObject();
    out.put("[/PDF/ImageB/ImageC/ImageI/Text]\n");
    out.put("endobj\n");
    w->leafNodes.push_back(out.reserve()); // object 2: the first node of the page tree
    return 1;
  });
}

int end_document(Writer *w, const std::string &options) {
  (void)options;
  return guarded(w, "end_document", kDocumentScope, [&] {
    Output &out = w->out;
    writeIndexedColorSpaces(w);

    for (std::size_t i = 0; i < w->pages.size(); ++i) {
      if (i > 0 && i % 10 == 0)
        w->leafNodes.push_back(out.reserve());
      const Page &page = w->pages[i];
      out.beginObject(page.object);
      out.put("<<");
      out.put("/Type/Page\n");
      out.putRef("/Parent", w->leafNodes[i / 10]);
      if (page.contents.size() == 1) {
        out.putRef("/Contents", page.contents[0]);
      } else {
        out.put("/Contents[");
        for (std::int64_t c : page.contents) {
          out.put(" ");
          out.putInt(c);
          out.put(" 0 R");
        }
        out.put("]\n");
      }
      out.putRef("/Resources", page.resources);
      static const char *const names[5] = {"ArtBox", "BleedBox", "CropBox", "MediaBox", "TrimBox"};
      for (int b = 0; b < 5; ++b)
        if (boxSet(page.boxes[static_cast<std::size_t>(b)]))
          putBoxValue(out, names[b], page.boxes[static_cast<std::size_t>(b)]);
      out.put(">>\n");
      out.put("endobj\n");
    }

    std::int64_t root = writeTreeNode(w, 0, w->pages.size(), 0, true);

    std::int64_t catalog = out.beginObject();
    out.put("<<");
    out.put("/Type/Catalog\n");
    out.putRef("/Pages", root);
    out.put(">>\n");
    out.put("endobj\n");

    for (std::int64_t n = 1; n <= out.highestObject(); ++n) {
      if (out.offsetOf(n) == kReserved) {
        out.beginObject(n);
        out.put("null % unused object\n");
        out.put("endobj\n");
        raiseWarning(w, WarnUnusedObject, "Object " + std::to_string(n) + " allocated but not used");
      }
    }

    std::int64_t xref = out.count();
    std::int64_t size = out.highestObject() + 1;
    out.put("xref\n");
    out.put("0 ");
    out.putInt(size);
    out.put("\n");
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010ld 65535 f \n", 0L);
    out.put(entry, 20);
    for (std::int64_t n = 1; n < size; ++n) {
      std::int64_t off = out.offsetOf(n);
      if (off < 0)
        std::snprintf(entry, sizeof entry, "%010ld 65535 f \n", 0L);
      else
        std::snprintf(entry, sizeof entry, "%010ld 00000 n \n", static_cast<long>(off));
      out.put(entry, 20);
    }

    static const char hex[] = "0123456789ABCDEF";
    std::string id;
    for (std::uint8_t b : out.id) {
      id.push_back(hex[b >> 4]);
      id.push_back(hex[b & 15]);
    }
    out.put("trailer\n");
    out.put("<<");
    out.put("/Size ");
    out.putInt(size);
    out.put("\n");
    out.put("/Root ");
    out.putInt(catalog);
    out.put(" 0 R\n");
    out.put("/ID[<" + id + "><" + id + ">]\n");
    out.put(">>\n");
    out.put("startxref\n");
    out.putInt(xref);
    out.put("\n");
    out.put("%%EOF\n");

    const bool renamed = !w->partName.empty();
    errno = 0;
    bool ok = out.close(renamed);
    std::string why = ok ? "" : writeFailure();
    if (ok && renamed) {
      if (::rename(w->partName.c_str(), w->targetName.c_str()) == 0)
        w->partName.clear();
      else {
        ok = false;
        why = writeFailure();
      }
    }
    abandonDocument(w);
    if (!ok)
      raiseError(w, ErrWrite, why);
    return 1;
  });
}

int begin_page_ext(Writer *w, double width, double height, const std::string &options) {
  (void)options;
  return guarded(w, "begin_page_ext", kDocumentScope, [&] {
    if (width < 0 || height < 0 || std::isnan(width) || std::isnan(height))
      raiseError(w, ErrNegativePageSize, "Negative page width or height");
    Page page;
    page.object = w->out.reserve();
    page.boxes[MediaBox] = {0, 0, width, height};
    w->pages.push_back(page);
    w->scope = Scope::Page;
    for (XObject &x : w->xobjects)
      x.usedOnPage = false;
    beginContentStream(w, w->pages.back());
    return 1;
  });
}

int end_page_ext(Writer *w, const std::string &options) {
  (void)options;
  return guarded(w, "end_page_ext", kPageScope, [&] {
    Page &page = w->pages.back();
    const auto &mb = page.boxes[MediaBox];
    double width = mb[2] - mb[0], height = mb[3] - mb[1];
    if (width == 0 || height == 0)
      raiseError(w, ErrEmptyMediaBox, "Page width or height is 0");
    checkPageSize(w, std::fabs(width), std::fabs(height));
    if (page.saveDepth != 0)
      raiseError(w, ErrUnbalancedSave,
                 "Unbalanced save/restore on the page (" + std::to_string(page.saveDepth) + " levels open)");
    Output &out = w->out;
    out.endStream();

    page.resources = out.beginObject();
    out.put("<<");
    bool any = false;
    for (const XObject &x : w->xobjects)
      any = any || x.usedOnPage;
    if (any) {
      out.put("/XObject");
      out.put("<<");
      for (std::size_t i = 0; i < w->xobjects.size(); ++i) {
        if (!w->xobjects[i].usedOnPage)
          continue;
        out.put("/I");
        out.putInt(static_cast<std::int64_t>(i));
        out.putRef("", w->xobjects[i].object);
        w->xobjects[i].usedOnPage = false;
      }
      out.put(">>\n");
    }
    out.put(">>\n");
    out.put("endobj\n");
    w->scope = Scope::Document;
    return 1;
  });
}

namespace {

struct Matrix {
  double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
};

// First m, then n.
Matrix then(const Matrix &m, const Matrix &n) {
  return Matrix{m.a * n.a + m.b * n.c, m.a * n.b + m.b * n.d,       m.c * n.a + m.d * n.c,
                m.c * n.b + m.d * n.d, m.e * n.a + m.f * n.c + n.e, m.e * n.b + m.f * n.d + n.f};
}

// The unit-square transform that shows stored rows and columns the way the orientation tag says.
Matrix orientationMatrix(int orientation) {
  switch (orientation) {
  case 2:
    return {-1, 0, 0, 1, 1, 0};
  case 3:
    return {-1, 0, 0, -1, 1, 1};
  case 4:
    return {1, 0, 0, -1, 0, 1};
  case 5:
    return {0, -1, -1, 0, 1, 1};
  case 6:
    return {0, -1, 1, 0, 0, 1};
  case 7:
    return {0, 1, 1, 0, 0, 0};
  case 8:
    return {0, 1, -1, 0, 1, 0};
  default:
    return {};
  }
}

void putMatrix(std::string &s, const Matrix &m) {
  if (m.a == 1 && m.b == 0 && m.c == 0 && m.d == 1 && m.e == 0 && m.f == 0)
    return;
  const double v[6] = {m.a, m.b, m.c, m.d, m.e, m.f};
  for (double x : v) {
    std::string t;
    if (!FormatReal(x, &t))
      throw RaisedError{ErrNumberTooLarge, "Floating point value too large for PDF"};
    s += t;
    s += ' ';
  }
  s += "cm\n";
}

} // namespace

int fit_image(Writer *w, int image, double x, double y, const std::string &options) {
  return guarded(w, "fit_image", kPageScope, [&] {
    if (image < 0 || static_cast<std::size_t>(image) >= w->images.size() ||
        !w->images[static_cast<std::size_t>(image)].inUse)
      raiseError(w, ErrBadHandle, "Image handle " + std::to_string(image) + " is not valid");
    const ImageSlot &img = w->images[static_cast<std::size_t>(image)];
    double pw = std::abs(static_cast<double>(img.width));
    double ph = std::abs(static_cast<double>(img.height));
    double nw = pw, nh = ph;
    if (img.xres > 0 && img.yres > 0) {
      nw = pw * 72.0 / img.xres;
      nh = ph * 72.0 / img.yres;
    } else if (img.xres < 0 && img.yres < 0) {
      nh = ph * (img.yres / img.xres);
    }
    bool transposed = img.orientation >= 5 && img.orientation <= 8;
    double placedW = transposed ? nh : nw;
    double placedH = transposed ? nw : nh;

    Matrix place{placedW, 0, 0, placedH, x, y};
    Matrix orient = orientationMatrix(img.orientation);
    Matrix flip = img.height < 0 ? Matrix{1, 0, 0, -1, 0, 1} : Matrix{};
    std::string content;
    int rows = static_cast<int>(ph);
    for (int s = 0; s < img.strips; ++s) {
      Matrix strip;
      if (img.strips > 1) {
        int first = s * img.rowsPerStrip;
        int height = std::min(img.rowsPerStrip, rows - first);
        strip = Matrix{1, 0, 0, double(height) / rows, 0, 1.0 - double(first + height) / rows};
      }
      content += "q\n";
      putMatrix(content, then(then(then(strip, flip), orient), place));
      content += "/I" + std::to_string(img.xobject + s) + " Do\n";
      content += "Q\n";
      w->xobjects[static_cast<std::size_t>(img.xobject + s)].usedOnPage = true;
    }
    w->out.write(content.data(), content.size());

    if (options.find("adjustpage") != std::string::npos) {
      Page &page = w->pages.back();
      double W = 2 * x + placedW, H = 2 * y + placedH;
      page.boxes[MediaBox] = {0, 0, W, H};
      page.boxes[CropBox] = {0, 0, 0, 0};
      checkPageSize(w, W, H);
    }
    return 1;
  });
}

int close_image(Writer *w, int image) {
  return guarded(w, "close_image", kDocumentScope | kPageScope, [&] {
    if (image < 0 || static_cast<std::size_t>(image) >= w->images.size() ||
        !w->images[static_cast<std::size_t>(image)].inUse)
      raiseError(w, ErrBadHandle, "Image handle " + std::to_string(image) + " is not valid");
    w->images[static_cast<std::size_t>(image)] = ImageSlot{};
    return 1;
  });
}

int load_image(Writer *w, const std::string &type, const char *fileName, int nameLength, const std::string &options) {
  (void)options;
  return guarded(w, "load_image", kDocumentScope | kPageScope, [&] {
    std::string name;
    if (fileName)
      name = nameLength > 0 ? std::string(fileName, strnlen(fileName, static_cast<std::size_t>(nameLength)))
                            : std::string(fileName);
    return loadImageBody(w, type, name);
  });
}

int get_errnum(const Writer *w) { return valid(w) ? w->errnum : -1; }
std::string get_errmsg(const Writer *w) { return valid(w) ? w->errmsg : std::string(); }
std::string get_apiname(const Writer *w) { return valid(w) ? w->apiname : std::string(); }

void push_recovery_point(Writer *w) {
  if (valid(w))
    ++w->recoveryDepth;
}

void pop_recovery_point(Writer *w) {
  if (valid(w) && w->recoveryDepth > 0)
    --w->recoveryDepth;
}

void set_error_handler(Writer *w, ErrorHandler handler) {
  if (valid(w))
    w->handler = std::move(handler);
}

void add_memory_file(Writer *w, const std::string &name, std::vector<std::uint8_t> data) {
  if (valid(w))
    w->memoryFiles[name] = std::make_shared<const std::vector<std::uint8_t>>(std::move(data));
}

void remove_memory_file(Writer *w, const std::string &name) {
  if (valid(w))
    w->memoryFiles.erase(name);
}

void set_decode_memory_limit(Writer *w, std::uint64_t bytes) {
  if (valid(w))
    w->decodeLimit = bytes;
}

} // namespace pdf
