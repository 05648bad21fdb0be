#pragma once

#include <QString>

class QPDF;

// A PDF built or changed with qpdf, written to `target` with every write,
// the flush and the sync checked: a full disk gives false, never a truncated
// file that looks written.
namespace pdfoutput {

bool save(QPDF &pdf, const QString &target);

} // namespace pdfoutput
