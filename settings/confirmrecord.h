#pragma once
// The operation-record line of a confirmed settings change: the header and one fragment per changed
// field in the fixed order the record readers know, in the current language. GUI thread (text table).

#include "core/sysparam.h"

#include <QString>

// The line for the change from `inForce` to `edited`; the header alone when only fields without a
// fragment changed.
QString buildConfirmRecord(const SysParam &inForce, const SysParam &edited);
