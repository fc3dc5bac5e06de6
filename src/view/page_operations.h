// The operations of the page menu on the page list: delete one page, rotate a page and lay the strip out again,
// and the page content the clipboard and "Save as EMF" hand out. The window side (which page, messages, the
// re-render of the current page) belongs to the caller.
#pragma once

#include "capture/page_store.h"

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>
#include <functional>
#include <optional>

namespace view {

// Rotation steps of one page: left subtracts 90 (a result below 0 gets 360 added), right adds 90 (a result above
// 360 gets 360 subtracted), so right from 270 gives 360, which draws like 0.
double RotatedLeft(double angle);
double RotatedRight(double angle);

// ---- what a page holds ----
// The page's metafile bytes exactly as captured; nothing when the page holds no metafile.
std::optional<QByteArray> PageEmfBytes(const capture::PageRecord &page);
// The page's printed size in whole millimetres (a metafile's frame rounded up, a PDF page's size rounded to the
// nearest); false when the page has no size.
bool PageSizeMm(const capture::PageRecord &page, int &widthMm, int &heightMm);
// The page's tooltip: the document name of its print job ("Job N" when the job named none), its page number and
// its size in millimetres. Rich text with the names escaped.
QString PageToolTip(const capture::PageRecord &page);
// Lets go of the page's metafile (or PDF page) and thumbnail.
void ReleasePageContent(capture::PageRecord &page);

// ---- page list operations ----
// Removes page i. When i is the current page, the next page (the previous one when i is the last) becomes current
// and renderCurrent is called with its index before the list changes; deleting the only page leaves no current
// page and renders nothing. Later thumbnails move up by the distance from page i's top to page i+1's top. The
// scroll range stays. false (nothing changed) for an index outside the list.
bool DeletePage(capture::PageStore &store, int i, const std::function<void(int index)> &renderCurrent);
// Gives page i the angle, re-makes its thumbnail and places it: centred on the client width, at client top + 10
// for the first page, else 24 below the page before it; every later page moves by the change of height.
void SetPageRotation(capture::PageStore &store, int i, double angle, const QRect &stripClient);

// ---- handing a page out ----
// Puts the metafile on the clipboard as "image/emf" and "image/x-emf", with the picture beside it for programs
// that cannot read metafiles. The clipboard holds copies: clearing it never touches the page. false when the
// clipboard did not take the data.
bool PutPageOnClipboard(const QByteArray &emf, const QImage &picture);
// Writes bytes to path under a temporary name and renames it into place, so a failed write leaves nothing
// half-written (and an existing file unchanged). false on any failure.
bool WriteWholeFile(const QString &path, const QByteArray &bytes);
// The folder a "save" question starts in: the user's pictures folder, else documents, else home.
QString SaveStartFolder();

} // namespace view
