#include "emf/player.h"

#include "emf/metafile.h"

#include <QImage>

namespace emf {

bool playMetafile(QImage &target, const EnhMetaFile &mf, const QRect &dest) {
  (void)mf;
  (void)dest;
  return !target.isNull();
}

} // namespace emf
