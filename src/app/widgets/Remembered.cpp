#include "Remembered.h"

#include "ViewState.h"

#include <QCheckBox>

namespace Remembered {

void checkBox(QCheckBox& box, const QString& key)
{
    ViewState& state = ViewState::shared();
    box.setChecked(state.flag(key).value_or(box.isChecked()));
    state.keep(key, box.isChecked());
    QObject::connect(&box, &QCheckBox::toggled, &box,
                     [key](bool checked) { ViewState::shared().set(key, checked); });
}

} // namespace Remembered
