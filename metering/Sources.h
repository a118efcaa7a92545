#pragma once
// What metering needs from the outside world besides the clock. Linux sources live in
// platform/; tests use fakes.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tallimer {

// The name of the default connection, empty when the system has none.
class ConnectionNameSource {
  public:
    virtual ~ConnectionNameSource() = default;
    virtual std::string defaultConnectionName() = 0;
    // The same, told to `answer` once known, on the program's thread: a source that must ask
    // another program answers later rather than hold the thread. It may never answer when
    // the program ends first.
    virtual void askName(std::function<void(std::string)> answer) {
        answer(defaultConnectionName());
    }
    // Called, on the program's thread, when the primary connection becomes another one. A
    // source that cannot tell never calls: nothing else splits a connection.
    virtual void setOnSwitch(std::function<void()> callback) { (void)callback; }
    // Each second while metering, when switches matter: a source may look whether what
    // tells it of them is still there.
    virtual void tick() {}
};

// Cumulative byte counters of the link, low 32 bits.
struct LinkCounters {
    std::optional<std::uint32_t> received;  // empty: this counter is missing
    std::optional<std::uint32_t> sent;
    // The link's statistics were opened afresh for this reading: another link's counters, or
    // the same link made again from zero, so they do not follow on from the last reading.
    bool newLink = false;
};

class LinkCounterSource {
  public:
    virtual ~LinkCounterSource() = default;
    // Empty when the statistics cannot be had at all (no link, nothing published).
    virtual std::optional<LinkCounters> read() = 0;
    // A connection starts: the link may be another one than the last connection's.
    virtual void connectionStarted() {}
};

// Whether the desktop marks the link in use as metered (paid by volume): a reason to offer
// a volume tariff, never to set one. False when it cannot tell.
class MeteredLinkSource {
  public:
    virtual ~MeteredLinkSource() = default;
    virtual bool linkMetered() = 0;
};

}  // namespace tallimer
