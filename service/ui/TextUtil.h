// Small text helpers of the windows.
#pragma once

#include <QString>

namespace ostra {

// Removes every leading and trailing character whose code is 0x20 or lower
// (blanks and control characters), as the password dialogs trim their edits.
QString TrimControls(const QString& Text);

}  // namespace ostra
