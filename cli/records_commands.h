#pragma once

#include <optional>
#include <string>

// The lab's record from the command line: the audit trail, a journal's seal, the signing key
// and a run's report. Each returns the program's exit code.

// Checks the chain of the audit trail at `path` and names the first bad line.
int AuditVerifyCommand(const std::string& path);
// The audit trail's lines (those at or after `since`: a date, or a date and time), as a table
// or as the JSON lines they are.
int AuditShowCommand(const std::string& path, const std::string& since, bool json);
// Whether a journal is sealed, by whom it is signed, or where it was altered. `key`: the public
// key (base64, or a file holding it) that must have signed it.
int VerifyCommand(const std::string& journal, const std::string& key);
// The public half of the user's signing key (made when there is none yet).
int KeyCommand();
// The PDF report of a journal.
int ReportCommand(int argc, char** argv, const std::string& journal, const std::string& pdf);
