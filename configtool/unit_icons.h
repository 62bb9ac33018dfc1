// The images of the configuration tool, drawn rather than shipped: the
// program icon and the four images of a unit in the list (inactive, active,
// and both again with the current unit's star), each at 16 and 32 pixels.
#pragma once

#include "unit_list.h"

#include <QIcon>

namespace lumarc::configtool {

QIcon unitIcon(UnitIcon icon);
QIcon programIcon();

} // namespace lumarc::configtool
