#include "toolkit/timer.h"

#include <QTimer>

struct TTimer::TImpl {
    QTimer Timer;
};

TTimer::TTimer() : FImpl(std::make_unique<TImpl>()) {
    QObject::connect(&FImpl->Timer, &QTimer::timeout, [this] { Tick(); });
}

TTimer::~TTimer() { FImpl->Timer.stop(); }

void TTimer::SetEnabled(bool value) {
    if (value == FEnabled) return;
    FEnabled = value;
    UpdateTimer();
}

void TTimer::SetInterval(unsigned ms) {
    if (ms == FInterval) return;
    FInterval = ms;
    UpdateTimer();
}

void TTimer::SetOnTimer(std::function<void()> handler) {
    FOnTimer = std::move(handler);
    UpdateTimer();
}

bool TTimer::Running() const { return FImpl->Timer.isActive(); }

void TTimer::Tick() {
    if (FOnTimer) FOnTimer();
}

// Any change stops the timer and starts it afresh, so a new interval counts from now.
void TTimer::UpdateTimer() {
    FImpl->Timer.stop();
    if (FEnabled && FInterval != 0 && FOnTimer) {
        FImpl->Timer.setInterval(static_cast<int>(FInterval));
        FImpl->Timer.start();
    }
}
