#pragma once

#include <string>

#include "run/device_type.h"
#include "run/run_record.h"

// The header titles are entries 105, 108 and 106 of the string table. The table lives in
// the Gui resource library, which this layer does not link, so the texts are repeated here.
inline constexpr const char* kExportSampleTitle = "Time(S)";      // string 105
inline constexpr const char* kExportSpeedTitle = "Speed(1/min)";  // string 108
inline constexpr const char* kExportTimeTitle = "Time(S)";        // string 106

// The export's content: a header line, then one line per sample with the sample number
// (from 1), the speed and, unless the instrument is of no listed type, the remaining time;
// tab-separated decimals, every line ended by CR LF.
std::string FormatRecordExport(const CRunRecord& record, DeviceType type);

// Writes the export to `path` (a native file name; from a QString use QFile::encodeName).
// The file is replaced only once the new content is complete on disk; on any failure the
// result is 0 and an existing file is left as it was. 1 on success.
int ExportRecord(const std::string& path, const CRunRecord& record, DeviceType type);
