// The metafile object and player on arbitrary bytes: a file is either rejected or played onto a small page, never
// a crash, a hang or a read out of bounds.
#include "emf/metafile.h"

#include <QGuiApplication>
#include <QImage>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  // Text drawing needs an application object; the offscreen platform needs no display.
  static QGuiApplication *app = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "fuzz_emf_player";
    static char *argv[] = {name, nullptr};
    return new QGuiApplication(argc, argv);
  }();
  (void)app;
  emf::HENHMETAFILE mf = emf::SetEnhMetaFileBits(std::span<const uint8_t>(data, size));
  if (!mf)
    return 0;
  QImage page(160, 120, QImage::Format_RGB32);
  page.fill(Qt::white);
  emf::PlayEnhMetaFile(page, mf, QRect(0, 0, 160, 120));
  emf::DeleteEnhMetaFile(mf);
  return 0;
}
