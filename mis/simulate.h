// Public within qx_mis: makes the network live. Each tick changes the state of a few
// objects and raises an alarm, which adds an alarm record to the alarm log of the system
// concerned. Everything goes through the Service, so clients hear of it as of any change.
#pragma once
#include <random>
#include <string>

#include "service.h"

namespace mis {

class Simulator {
public:
    Simulator(Service& service, unsigned seed);
    void tick();

    // Alarm records a log keeps at the most: the oldest go first.
    static constexpr size_t MAX_RECORDS = 300;

private:
    Service& service_;
    std::mt19937 rng_;

    MObject* pick_changeable();
    void raise_alarm(MObject& about);
    size_t below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
};

} // namespace mis
