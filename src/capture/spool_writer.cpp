#include "capture/spool_writer.h"

#include "capture/spool_extractor.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>
#include <cstdio>

namespace capture {

namespace {

void put32(std::vector<uint8_t> &out, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(uint8_t(v >> (8 * i)));
}

void put32At(std::vector<uint8_t> &out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out[at + size_t(i)] = uint8_t(v >> (8 * i));
}

void putUtf16z(std::vector<uint8_t> &out, const std::string &utf8) {
  for (char16_t c : QString::fromStdString(utf8).toStdU16String()) {
    out.push_back(uint8_t(c));
    out.push_back(uint8_t(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
}

void pad4(std::vector<uint8_t> &out) {
  while (out.size() % 4 != 0)
    out.push_back(0);
}

bool writeWhole(const QString &path, const QByteArray &bytes, std::string *error) {
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
    if (error)
      *error = "cannot write " + path.toStdString() + ": " + f.errorString().toStdString();
    return false;
  }
  return true;
}

} // namespace

std::vector<uint8_t> BuildSpoolFile(const std::vector<std::vector<uint8_t>> &pages, const std::string &documentName) {
  std::vector<uint8_t> out;
  // Header record: version, size, offset of the document name, offset of the output name, then the names.
  put32(out, kSpoolVersion);
  put32(out, 0); // size, filled in below
  put32(out, 16);
  put32(out, 0); // output name offset, filled in below
  putUtf16z(out, documentName);
  pad4(out);
  put32At(out, 12, uint32_t(out.size()));
  putUtf16z(out, std::string());
  pad4(out);
  put32At(out, 4, uint32_t(out.size()));

  for (const auto &page : pages) {
    const size_t pageRecord = out.size();
    put32(out, kRecordPage);
    put32(out, uint32_t(page.size()));
    out.insert(out.end(), page.begin(), page.end());
    pad4(out);
    const uint64_t back = out.size() - pageRecord;
    put32(out, kRecordPageOffset);
    put32(out, 8);
    put32(out, uint32_t(back));
    put32(out, uint32_t(back >> 32));
  }
  put32(out, kRecordEnd);
  put32(out, 0);
  return out;
}

std::string BuildShadowFile(const std::string &documentName, const std::string &spoolFileName, int pageCount) {
  return "document=" + documentName + "\nspool=" + spoolFileName + "\npages=" + std::to_string(pageCount) + "\n";
}

bool WriteSpoolJob(const std::string &spoolPath, const std::vector<std::vector<uint8_t>> &pages,
                   const std::string &documentName, bool shadow, std::string *error) {
  const QString spl = QString::fromStdString(spoolPath);
  if (shadow && spl.size() < 4) {
    if (error)
      *error = "spool file name too short for a shadow file: " + spoolPath;
    return false;
  }
  const std::vector<uint8_t> bytes = BuildSpoolFile(pages, documentName);
  if (!writeWhole(spl, QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())), error))
    return false;
  if (!shadow)
    return true;
  const QString shd = spl.left(spl.size() - 3) + QStringLiteral("SHD");
  const std::string text = BuildShadowFile(documentName, QFileInfo(spl).fileName().toStdString(), int(pages.size()));
  return writeWhole(shd, QByteArray::fromStdString(text), error);
}

std::string NextFreeJobName(const std::string &folder) {
  const QDir dir(QString::fromStdString(folder));
  for (int n = 1; n <= 99999; ++n) {
    char name[8];
    std::snprintf(name, sizeof name, "%05d", n);
    const QString base = QString::fromLatin1(name);
    if (!dir.exists(base + ".SPL") && !dir.exists(base + ".SHD"))
      return name;
  }
  return {};
}

} // namespace capture
