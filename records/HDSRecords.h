// Umbrella header: every shared record type and constant of the plug-in.
#ifndef ZR_RECORDS_HDSRECORDS_H
#define ZR_RECORDS_HDSRECORDS_H

#include "records/HDSConstants.h"
#include "records/HDSArrayRecords.h"
#include "records/ZRHDSDeviceRecords.h"
#include "records/ZRHDSJobRecords.h"

#endif  // ZR_RECORDS_HDSRECORDS_H
