#pragma once

#include <cstdint>
#include <mutex>
#include <string>

// The plain-text traffic log "Zet_CommOutput.txt": every byte sent to and received from the
// instrument, one line per request, reply or discarded block. A log that can't be opened is
// ignored; the exchange goes on without it. Only a regular file is ever a log: a symbolic
// link, a FIFO or a device at the path means no log, and is left as it is.
class CTrafficLog {
  public:
    static constexpr const char* kFileName = "Zet_CommOutput.txt";

    CTrafficLog();
    ~CTrafficLog();
    CTrafficLog(const CTrafficLog&) = delete;
    CTrafficLog& operator=(const CTrafficLog&) = delete;

    // Creates the file, or empties it.
    void Reset();
    // Appends the text exactly as given to the file at the path; never creates it. The file
    // stays open between appends; once it has been removed, appends go to whatever regular
    // file is at the path again, and nowhere while there is none.
    void Append(const std::string& text);

    std::string Path() const;
    // Moves the log to another directory (tests; the program keeps the default).
    void SetDirectory(const std::string& directory);

    // "%02X " for each byte, upper-case hex.
    static std::string Hex(const std::uint8_t* bytes, int length);

  private:
    std::string PathLocked() const;
    // The open log, reopened from the path if it was removed; -1 when there is none.
    int FileLocked();
    void CloseLocked();

    // Protects m_directory and m_fd, and orders appends, so two threads' lines never
    // interleave within one append.
    mutable std::mutex m_mutex;
    std::string m_directory;
    int m_fd = -1;
};

// The executable's directory when it is writable, else $XDG_STATE_HOME/velmora
// (default ~/.local/state/velmora).
std::string DefaultLogDirectory();
