#pragma once

#include <cstdint>
#include <mutex>
#include <string>

// The plain-text traffic log "Zet_CommOutput.txt": every byte sent to and received from the
// instrument, one line per request, reply or discarded block. A log that can't be opened is
// ignored; the exchange goes on without it.
class CTrafficLog {
  public:
    static constexpr const char* kFileName = "Zet_CommOutput.txt";

    CTrafficLog();

    // Creates the file, or empties it.
    void Reset();
    // Appends the text exactly as given to an existing file; never creates it.
    void Append(const std::string& text);

    std::string Path() const;
    // Moves the log to another directory (tests; the program keeps the default).
    void SetDirectory(const std::string& directory);

    // "%02X " for each byte, upper-case hex.
    static std::string Hex(const std::uint8_t* bytes, int length);

  private:
    // Protects m_directory and orders appends, so two threads' lines never interleave
    // within one append.
    mutable std::mutex m_mutex;
    std::string m_directory;
};

// The executable's directory when it is writable, else $XDG_STATE_HOME/velmora
// (default ~/.local/state/velmora).
std::string DefaultLogDirectory();
