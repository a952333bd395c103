// The single-instance guard: keeps a program to one running copy per user session. A new
// copy asks every guard of the session who runs; a running copy answers with its instance
// name, the new copy asks it to come forward and ends itself. Everything, the events
// included, happens on the main thread once it processes messages.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/instance_channel.h"
#include "toolkit/component.h"

class QSocketNotifier;

class TLuOneInstance : public TComponent {
public:
    // Opens this copy's socket in the per-user directory and asks at once who runs. When
    // the directory cannot be trusted or used, the guard is off (said once on standard
    // error) and the program simply runs.
    explicit TLuOneInstance(TComponent* owner = nullptr);
    ~TLuOneInstance() override;
    TLuOneInstance(const TLuOneInstance&) = delete;
    TLuOneInstance& operator=(const TLuOneInstance&) = delete;

    std::string InstanceName() const { return FInstanceName; }
    // The same name again does nothing. A blank name shows "Instance unique NAME must be
    // set!" and becomes NewGuidName(), with no lock. Any other name is kept as given and
    // its named lock taken; a lock held by another copy makes InstanceExists() true.
    void SetInstanceName(const std::string& value);
    // True once a name's lock was found held by another copy; never reset.
    bool InstanceExists() const { return FInstanceExists; }

    // Raised in a new copy for every answer of a running copy, whatever name it carries.
    const TNotifyEvent& OnExist() const { return FOnExist; }
    void SetOnExist(TNotifyEvent h) { FOnExist = std::move(h); }
    // Raised in the running copy when a new copy asks it to come forward.
    const TNotifyEvent& OnCanShow() const { return FOnCanShow; }
    void SetOnCanShow(TNotifyEvent h) { FOnCanShow = std::move(h); }
    // What coming forward does while OnCanShow is unassigned: the window passes its
    // show-from-tray routine (restore from minimised, show, raise, activate). Unset: nothing.
    void SetOnRestore(std::function<void()> h) { FOnRestore = std::move(h); }
    // How this copy ends after a running copy answered. Unset: the application's event
    // loop is asked to quit, at once or as soon as it runs. Tests install their own.
    void SetOnTerminate(std::function<void()> h) { FOnTerminate = std::move(h); }

    // A fresh GUID in registry text form, "{" 8-4-4-4-12 upper-case hex digits "}", from
    // the system's random source; empty when the system gives no random bytes.
    static std::string NewGuidName();

    // False when the guard runs without its directory or socket.
    bool Guarding() const;

protected:
    void DoExist();
    void DoCanShow();

private:
    void OpenChannel();
    void ReadMessages();
    void HandleMessage(const TInstanceMessage& msg);
    void HandleAnswer(const TInstanceMessage& msg);
    void TakeLock();
    void Terminate();

    std::string FDirectory;  // empty when the guard is off
    std::unique_ptr<TInstanceChannel> FChannel;
    std::unique_ptr<QSocketNotifier> FNotifier;  // after FChannel: goes first
    TNamedLock FLock;
    std::string FInstanceName;
    bool FInstanceExists = false;
    // Lets a handler that destroys the guard end the message loop safely.
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
    TNotifyEvent FOnExist, FOnCanShow;
    std::function<void()> FOnRestore, FOnTerminate;
};
