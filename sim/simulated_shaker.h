#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// How the simulated shaker behaves. The defaults suit the program's own "Simulator" port.
struct SimOptions {
    std::string deviceId = "KW41-VTX-SIM";
    int speedSetpoint = 300;  // 1/min, what a status reply reports as setpoint when idle
    int timeSetpoint = 6;     // time units
    int rampPerUnit = 50;     // 1/min the actual speed moves toward its target per time unit
    int noise = 0;            // +/- 1/min of noise on the actual speed once close (0 for tests)
    std::chrono::milliseconds timeUnit{1000};  // one unit of the remaining-time countdown
    // Every request byte kept with its arrival time (ReceivedBytes). A long run adds about
    // 200 bytes a second, so only a test that checks pacing turns this on.
    bool recordByteStamps = false;
};

// A shaker that answers the instrument's request-reply protocol on the master side of a
// pseudo-terminal; the program opens SlavePath() exactly as it opens a real port.
// All members are thread-safe: tests call them while the responder thread runs.
class CSimulatedShaker {
  public:
    enum class Fault {
        NoReply,         // the request is swallowed
        BadChecksum,     // the last byte of the reply is off by one
        NonZeroStatus,   // byte 2 of the reply is `detail` (1 when detail is 0); a speed or
                         // time so refused is not set
        WrongStartByte,  // byte 0 of the reply is not 0xFE; the checksum stays right
        Split,           // the reply is written in two blocks, the first `detail` bytes long
        ExtraBytes,      // `detail` bytes (at least 1) follow the reply in the same write
        Late,            // the reply is written `detail` ms after the request
    };

    explicit CSimulatedShaker(SimOptions options = {});
    ~CSimulatedShaker();  // stops and closes everything
    CSimulatedShaker(const CSimulatedShaker&) = delete;
    CSimulatedShaker& operator=(const CSimulatedShaker&) = delete;

    // Opens the pseudo-terminal and starts the responder thread. False if the pty can't be made.
    bool Start();
    // Stops the responder thread and closes both sides. Safe to call twice; never hangs.
    void Stop();
    bool IsRunning() const;
    // Path the program opens, e.g. /dev/pts/7; empty before Start.
    std::string SlavePath() const;

    void SetDeviceId(std::string id);
    // The next reply, whatever the command.
    void InjectNext(Fault fault, int detail = 0);
    // Replies to one command code; count -1 = until cleared.
    void InjectFor(std::uint8_t code, Fault fault, int count = -1, int detail = 0);
    // Exact bytes for the next request with that code (FIFO per code), also for codes the
    // shaker does not know. They replace the shaker's own reply (the request still acts on
    // the shaker); an injected fault applies to them as to any reply.
    void QueueReply(std::uint8_t code, std::vector<std::uint8_t> bytes);
    // Forgets every injected fault and queued reply.
    void ClearFaults();
    // Closes the master: the program's reads fail as with a pulled USB adapter.
    void Unplug();
    // Plugs the shaker back in after Unplug (or Stop), in the state it had: a new
    // pseudo-terminal, on the same path when the kernel hands that number out again (it does
    // once nobody holds the old one open). SlavePath() tells which. False if no pty is left.
    bool Replug();
    // Silent: requests still arrive and are recorded, but the shaker neither acts on them
    // nor replies, as with a cable pulled at the instrument while the port stays open.
    void SetSilent(bool silent);
    // Stalled: the shaker stops reading the line, so the port's output backs up and the
    // program's writes wait, as with a driver whose output no longer drains. Whatever was
    // written meanwhile is taken as usual once the stall ends.
    void SetStalled(bool stalled);
    // Status replies report no time left while the run goes on (the run-state reply still
    // says running), so the end of a run by its remaining time can be seen on its own.
    void SetReportNoTimeLeft(bool noTimeLeft);
    // The platform stalls: while a run goes on, its speed heads for `speed` whatever the
    // setpoint (a jammed load); none frees it.
    void SetPlatformStalledAt(std::optional<int> speed);
    // Switches the per-byte time stamps of ReceivedBytes on or off (SimOptions::recordByteStamps).
    void SetByteStampsRecorded(bool record);

    struct State {
        int speedSetpoint, actualSpeed, timeSetpoint, remaining;
        bool running;
    };
    State CurrentState() const;
    void SetActualSpeed(int speed);  // for scripted tests

    struct ByteStamp {
        std::uint8_t byte;
        std::chrono::steady_clock::time_point at;
    };
    // Empty unless byte stamps are recorded.
    std::vector<ByteStamp> ReceivedBytes() const;
    std::vector<std::array<std::uint8_t, 6>> Requests() const;  // complete request frames, in order
    int RequestCount(std::uint8_t code) const;
    // Bytes received that were part of no well-formed request (a frame cut short shows here).
    long long MalformedBytes() const;
    // Forgets the recorded bytes and requests (not the faults or the state).
    void ClearRecords();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
