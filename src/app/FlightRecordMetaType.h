#pragma once

#include "device/FlightRecord.h"

#include <QMetaType>

// The flight list's entries carry their FlightRecord as item data.
Q_DECLARE_METATYPE(corvex::FlightRecord)
