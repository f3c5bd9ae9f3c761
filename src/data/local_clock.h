#pragma once
// The machine's local calendar and clock as date-time values.

#include "formats/wire_values.h"

namespace quelvar {

TDateTime Now();    // local date and time, to the millisecond
TDateTime Today();  // local date, no time of day

}  // namespace quelvar
