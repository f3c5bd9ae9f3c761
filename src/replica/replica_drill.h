#pragma once
// The restore drill: the first replica restored into a temporary file and
// checked, as a restore after a disaster would be. The outcome goes to the
// operator's log (one line) and to the figures (the time of the last drill
// that passed, the count of failures).

#include "data/operator_console.h"
#include "replica/replica_figures.h"
#include "replica/replica_settings.h"

namespace quelvar::replica {

void RunRestoreDrill(const ReplicaSettings &settings, OperatorConsole &console, ReplicaFigures &figures);

}  // namespace quelvar::replica
