// The Device Info list's row image strip: twelve 16-pixel images, of which
// the list uses the single-entry head (0), the collapsed head (1), the
// expanded head (7), the last entry (9) and a middle entry (11).
#pragma once

#include <QIcon>

namespace lumarc::infotool {

QIcon rowImage(int index);

} // namespace lumarc::infotool
