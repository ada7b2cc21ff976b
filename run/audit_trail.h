#pragma once

#include <QJsonObject>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The audit trail: one append-only file of JSON lines shared by the window, velmora-cli and
// velmora-server. Each line is one event:
//   {"time":"2026-12-09T10:41:16.123+01:00","program":"velmora","user":"ana@lab1",
//    "event":"start", ...the event's fields..., "prev":"<SHA-256 hex of the line before>"}
// The first line's "prev" is 64 zeros. An edited, removed or reordered line breaks the chain
// from there on. Appends from several processes are serialised by an flock on the file and
// made durable (fsync) before the call returns: never call Append on a thread that must not
// wait for the disk.
class CAuditTrail {
  public:
    // $XDG_DATA_HOME/velmora/audit.jsonl, or ~/.local/share/velmora/audit.jsonl.
    static std::string DefaultPath();

    explicit CAuditTrail(std::string path = DefaultPath());

    // Who writes: the program's name and "user@host".
    void SetProgram(std::string program) { m_program = std::move(program); }
    void SetUser(std::string user) { m_user = std::move(user); }

    // One event; `user` empty: the trail's user. False when it could not be written
    // (LastError says why); nothing half-written is left.
    bool Append(std::string_view event, const QJsonObject& fields = {},
                const std::string& user = {});
    std::string LastError() const { return m_error; }
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
    std::string m_program;
    std::string m_user;
    std::string m_error;
};

// What a check of the chain found.
struct AuditVerdict {
    bool intact = true;
    int lines = 0;         // lines checked
    int firstBadLine = 0;  // not intact: the first line (1-based) whose chain breaks
    std::string reason;    // not intact, or the file can't be read
};
AuditVerdict VerifyAuditTrail(const std::string& path);

struct AuditEntry {
    int line = 0;
    std::chrono::system_clock::time_point time;
    QJsonObject fields;  // the whole line
    std::string text;    // the line as written
};
// The trail's lines, those at or after `since` when given. Empty and `error` set when the file
// can't be read; a missing file is an empty trail.
std::vector<AuditEntry> ReadAuditTrail(const std::string& path,
                                       std::optional<std::chrono::system_clock::time_point> since,
                                       std::string* error);
