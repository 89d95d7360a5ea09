#ifndef KIVREL_CORE_SOUNDGATE_H
#define KIVREL_CORE_SOUNDGATE_H

// Which sounds may play: a burst of the same notification makes at most one
// sound a second, while a different sound is never held back.
// One thread (the user-interface thread) per object.

#include <QString>
#include <chrono>

class CSoundGate
{
public:
    using Clock = std::chrono::steady_clock;

    // Whether `name` plays at `now`; when it does, it becomes the last sound
    // and the same name waits until a second after `now`.
    bool Pass(const QString& name, Clock::time_point now);

private:
    QString last;
    Clock::time_point next{};
};

#endif
