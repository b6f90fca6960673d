#pragma once

#include <QString>

class QCheckBox;

// Controls whose state is kept between runs in the view state.
namespace Remembered {

// Restores the check box from the value under `key`, its present state being the default, and
// keeps every change there. Connect what the box drives first: restoring toggles it.
void checkBox(QCheckBox& box, const QString& key);

} // namespace Remembered
