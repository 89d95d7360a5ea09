#include "core/soundgate.h"

bool CSoundGate::Pass(const QString& name, Clock::time_point now)
{
    if (name == last && now < next) {
        return false;
    }
    last = name;
    next = now + std::chrono::seconds(1);
    return true;
}
