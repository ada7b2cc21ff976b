#pragma once

#include <cstdint>
#include <mutex>
#include <string>

// The plain-text traffic log "Zet_CommOutput.txt": every byte sent to and received from the
// instrument, one line per request, reply or discarded block. A log that can't be opened is
// ignored; the exchange goes on without it. Only a regular file is ever a log: a symbolic
// link, a FIFO or a device at the path means no log, and is left as it is.
//
// A line that babbles would fill the disk, so a session keeps at most its newest `cap` bytes
// (plus one line) in two halves: once the file reaches half the cap it becomes the older half
// "Zet_CommOutput.txt.1" (replacing the one before, whose bytes are dropped) and a new file
// starts at the usual name with a line telling how many bytes of the session are gone.
class CTrafficLog {
  public:
    static constexpr const char* kFileName = "Zet_CommOutput.txt";
    static constexpr const char* kOlderHalfSuffix = ".1";
    static constexpr std::uint64_t kDefaultCapBytes = 16u * 1024 * 1024;

    CTrafficLog();
    ~CTrafficLog();
    CTrafficLog(const CTrafficLog&) = delete;
    CTrafficLog& operator=(const CTrafficLog&) = delete;

    // Creates the file, or empties it, and removes the older half: a new session.
    void Reset();
    // Appends the text exactly as given to the file at the path; never creates it. The file
    // stays open between appends; once it has been removed, appends go to whatever regular
    // file is at the path again, and nowhere while there is none.
    void Append(const std::string& text);

    std::string Path() const;
    // Moves the log to another directory (tests; the program keeps the default).
    void SetDirectory(const std::string& directory);
    // Test seam: the most the two halves hold together.
    void SetCapBytes(std::uint64_t bytes);

    // "%02X " for each byte, upper-case hex.
    static std::string Hex(const std::uint8_t* bytes, int length);

  private:
    std::string PathLocked() const;
    // The open log, reopened from the path if it was removed or replaced, and its size; -1
    // when there is none.
    int FileLocked(std::uint64_t& size);
    void CloseLocked();
    // Makes the full file the older half and opens a new one at the path.
    void StartNewHalfLocked();

    // Protects everything below, and orders appends, so two threads' lines never interleave
    // within one append.
    mutable std::mutex m_mutex;
    std::string m_directory;
    int m_fd = -1;
    std::uint64_t m_capBytes = kDefaultCapBytes;
    // Bytes of this session's traffic no longer in either half.
    std::uint64_t m_droppedBytes = 0;
    // The length of the "Dropped" note at the head of the newer and of the older half.
    std::uint64_t m_noteBytes = 0;
    std::uint64_t m_olderNoteBytes = 0;
};

// The executable's directory when it is writable, else $XDG_STATE_HOME/velmora
// (default ~/.local/state/velmora).
std::string DefaultLogDirectory();
