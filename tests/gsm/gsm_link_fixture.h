// A GSM component wired to the modem simulator on a pseudo-terminal, with every event
// it raises recorded.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "gsm/lugsm.h"
#include "gsm/lugsmthread.h"
#include "modem_sim.h"
#include "support/wait.h"
#include "toolkit/messagebox.h"

struct TAfterSend {
    std::string Marker, Number, Text;
    int Status, Ref, Part, Total;
};

class GsmLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/gsmlinkXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        Dir = tmpl;
        Options.LinkPath = Dir + "/modem";
        Gsm = std::make_unique<TLuGSM>();
        Gsm->SetComPort(Options.LinkPath);
        Gsm->SetCheckPwrSig(false);
        Gsm->CheckTimer().SetEnabled(false);
        Gsm->SetATTimeout(500);
        Gsm->SetATDelay(0);
        Gsm->SetReferenceFile(Dir + "/ReferenceNumbers.ini");
        Gsm->SetOnConnected([this](TComponent*) { ++Connects; });
        Gsm->SetOnDisconnected([this](TComponent*) { ++Disconnects; });
        Gsm->SetOnQuietError([this](TComponent*) { Errors.push_back(Gsm->LastErrorText()); });
        Gsm->SetOnAfterComRx([this](TComponent*, const TStringList& lines) {
            for (const auto& e : lines) LogLines.push_back(e.Text);
        });
        Gsm->SetOnAfterSend([this](TComponent*, std::string& marker, const std::string& number,
                                   int& status, const std::string& text, int ref, int part,
                                   int total, bool) {
            Sends.push_back({marker, number, text, status, ref, part, total});
        });
        Gsm->SetOnGetModelGSM([this](TComponent*, const std::string& model, const std::string&,
                                     const std::string&, int, int) { Model = model; });
    }
    void TearDown() override {
        if (HasFailure()) PrintWhatHappened();
        Gsm.reset();
        if (Modem) Modem->Stop();
        std::system(("rm -rf " + Dir).c_str());
    }

    // The errors, the log and what the modem received, to read a failure by.
    void PrintWhatHappened() const {
        for (const auto& e : Errors) std::fprintf(stderr, "error: %s\n", e.c_str());
        for (const auto& l : LogLines) std::fprintf(stderr, "log: %s\n", l.c_str());
        if (Modem)
            for (const auto& r : Modem->Received())
                std::fprintf(stderr, "modem got: %s\n", r.Text.c_str());
    }
    void StartModem() {
        Modem = std::make_unique<TModemSim>(Options);
        ASSERT_TRUE(Modem->Start());
    }
    // Starts the modem, activates and connects; true once OnConnected came.
    bool Connect(int timeoutMs = 20000) {
        if (!Modem) StartModem();
        Gsm->SetActive(true);
        Gsm->SetConnected(true);
        return WaitUntil([&] { return Connects > 0; }, timeoutMs);
    }
    bool Logged(const std::string& text) const {
        for (const auto& l : LogLines)
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
    bool ErrorSeen(const std::string& text) const {
        for (const auto& e : Errors)
            if (e.find(text) != std::string::npos) return true;
        return false;
    }
    // Sends text to the number as one or more parts.
    void SendText(const std::string& text) {
        Gsm->SetSMSNumber("600100200");
        Gsm->SetSMSText(text);
        ASSERT_TRUE(Gsm->SendSMS());
    }

    std::string Dir;
    TModemSimOptions Options;
    std::unique_ptr<TModemSim> Modem;
    std::unique_ptr<TLuGSM> Gsm;
    TMessageRecorder Boxes;
    int Connects = 0, Disconnects = 0;
    std::vector<std::string> Errors, LogLines;
    std::vector<TAfterSend> Sends;
    std::string Model;
};

inline long MsSince(std::chrono::steady_clock::time_point t) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t)
            .count());
}
