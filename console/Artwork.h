// The console's pictures: vector drawings shipped inside the program, drawn at the size asked.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace gx {

// `name` is the file name of a drawing in artwork/ (for example "icon_stop.svg").
QPixmap ArtworkPixmap(const char* name, QSize size);
// An icon with the drawing rendered at each of the sizes the desktop usually asks for.
QIcon ArtworkIcon(const char* name);
// The program's shield.
QIcon ProgramIcon();

}  // namespace gx
