// The base of non-visual components: created by their owner, given their design values
// while Loading() is true, then told Loaded().
#pragma once

class TComponent {
public:
    virtual ~TComponent() = default;
    bool Loading() const { return FLoading; }
    void BeginLoading() { FLoading = true; }
    // Ends the loading state; components override to act on their design values.
    virtual void Loaded() { FLoading = false; }

private:
    bool FLoading = false;
};

#include <functional>

// The notify event of every component: the sender only.
using TNotifyEvent = std::function<void(TComponent* sender)>;
