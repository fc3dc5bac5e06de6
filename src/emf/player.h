// The player: runs the records of a metafile through a device context onto a QImage.
#pragma once

#include <QRect>

class QImage;

namespace emf {

class EnhMetaFile;

// Plays mf into target, mapping the picture frame onto dest. Returns false when nothing could be played.
bool playMetafile(QImage &target, const EnhMetaFile &mf, const QRect &dest);

} // namespace emf
