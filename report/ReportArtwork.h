// The report dialogs' pictures: vector drawings shipped inside the program, drawn at the size
// asked.
#pragma once

#include <QPixmap>
#include <QSize>

namespace gx {

// `name` is the file name of a drawing in report/artwork/ (for example "report_close.svg").
QPixmap ReportArtworkPixmap(const char* name, QSize size);

}  // namespace gx
