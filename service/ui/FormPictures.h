// The pictures of the windows: the tool-bar images by image index and the
// pictures at the left of the dialogs. Drawn from the style's own icons, so
// no picture files need to ship.
//
// Threads: main (user-interface) thread only.
#pragma once

#include <QIcon>
#include <QPixmap>

class QAction;
class QLabel;
class QWidget;

namespace ostra {

// Image list of the main windows: 0 option, 1 change password, 2 about, 3 exit.
QIcon ImageListIcon(int ImageIndex);

// Gives every action below `Root` that carries an "imageIndex" property its
// picture from the image list.
void AssignActionImages(QWidget* Root);

enum class TPicture { Key, Lock, About };
// Fills `Image` (a label) with the picture, drawn at the label's size.
void ShowPicture(QLabel* Image, TPicture Picture);

}  // namespace ostra
