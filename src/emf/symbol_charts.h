// Symbol sets that no free font carries under their own face names, drawn as the Unicode characters that stand for
// their symbols (from any installed font that has them).
#pragma once

#include <QString>

namespace emf {

// The chart of a face: 224 Unicode characters for the codes 0x20..0xFF (0 where the set has no symbol), or null
// when the face has no chart here.
const char32_t *symbolChart(const QString &face);

} // namespace emf
