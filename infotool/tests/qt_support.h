// Qt for the tool's GoogleTest binaries: the helpers both Qt programs' tests
// share (qtcommon/tests/qt_support.h), under this folder's test namespace.
#pragma once

#include "qtcommon/tests/qt_support.h"

namespace lumarc::infotool::testing {

using qtcommon::testing::QtEnvironment;
using qtcommon::testing::whenShown;

} // namespace lumarc::infotool::testing
