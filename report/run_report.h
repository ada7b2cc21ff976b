#pragma once

#include <string>

struct JournalContents;

// The PDF report of a run (QPdfWriter): a header with the instrument, device ID and type, port,
// user, start and end with their UTC offset, setpoints, end reason, number of samples, seal
// and signature state; the speed graph drawn at print resolution; every sample in a table over
// as many pages as it takes; page numbers and the digest in the footer.
// Needs a QGuiApplication (velmora-cli makes an offscreen one). False and `error` on failure.
bool WriteRunReport(const JournalContents& run, const std::string& pdfPath, std::string* error);
