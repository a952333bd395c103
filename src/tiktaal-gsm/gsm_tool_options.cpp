#include "gsm_tool_options.h"

#include <cstdlib>

const char* const GsmToolUsage = R"(usage: tiktaal-gsm --port PORT [--baud N] [--at-timeout MS] [--verbose] COMMAND

Puts a GSM modem or phone on a serial port to work (3GPP TS 27.007 / 27.005, PDU mode).

Commands:
  identify                   print model, IMEI, firmware and both storage capacities
  send NUMBER TEXT           send TEXT to NUMBER as one or more parts; one line per part
       [--flash]             as a class 0 (flash) message
       [--report]            ask for a status report
       [--ucs2]              in UCS-2 whatever the text holds
       [--key KEY]           enciphered with KEY (a four-character key hides a text from a
                             casual reader and no more)
       [--merge-max N]       up to N parts (2..255) joined under one reference (default 3);
                             a longer text goes as several numbered messages. The reference
                             is kept in $XDG_STATE_HOME/tiktaal/ReferenceNumbers.ini
                             (on Windows, %LOCALAPPDATA%\tiktaal)
  listen [--seconds N]       print one line per event (message, status report, ring, call
         [--json]            state, signal, battery, enciphered message) for N seconds or
         [--key KEY]         until interrupted; --json prints one JSON object per line;
         [--keep]            enciphered messages are deciphered with KEY. Messages are
                             deleted from the modem once printed, unless --keep
  at COMMAND                 send one AT command and print the reply

Options:
  --port PORT        the serial port: a device path such as /dev/ttyUSB0, or COM1 for /dev/ttyS0
  --baud N           the line speed (default 115200)
  --at-timeout MS    how long a reply line may take, 500..60000 ms (default 2000)
  --reconnect-for S  send and listen: how long a modem that went away is waited for before
                     giving up (default 60 s)
  --verbose          print every exchange with the modem on standard error
  --help             this text

Exit status: 0 when the command did what it was asked (for send: every part accepted),
1 when the modem or the port failed it (listen: the modem went away for good), 2 for a
command line that cannot be followed (an unknown option, a destination without digits).
)";

namespace {

bool TakesValue(const std::string& name) {
    return name == "--port" || name == "--baud" || name == "--key" || name == "--seconds" ||
           name == "--at-timeout" || name == "--merge-max" || name == "--reconnect-for";
}

bool ParseCount(const std::string& text, int& value) {
    if (text.empty() || text.size() > 9) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    value = std::atoi(text.c_str());
    return true;
}

bool ApplyOption(const std::string& name, const std::string& value, TGsmToolOptions& o,
                 std::string& error) {
    if (name == "--port") {
        o.Port = value;
    } else if (name == "--baud") {
        int baud = 0;
        if (!ParseCount(value, baud) || baud <= 0) {
            error = "--baud wants a positive number, not \"" + value + "\"";
            return false;
        }
        o.Baud = value;
    } else if (name == "--key") {
        o.Key = value;
        o.HasKey = true;
    } else if (name == "--seconds") {
        if (!ParseCount(value, o.Seconds)) {
            error = "--seconds wants a number of seconds, not \"" + value + "\"";
            return false;
        }
    } else if (name == "--at-timeout") {
        if (!ParseCount(value, o.AtTimeoutMs) || o.AtTimeoutMs < 500 || o.AtTimeoutMs > 60000) {
            error = "--at-timeout wants milliseconds from 500 to 60000, not \"" + value + "\"";
            return false;
        }
    } else if (name == "--merge-max") {
        if (!ParseCount(value, o.MergeMax) || o.MergeMax < 2 || o.MergeMax > 255) {
            error = "--merge-max wants a number of parts from 2 to 255, not \"" + value + "\"";
            return false;
        }
    } else if (name == "--reconnect-for") {
        if (!ParseCount(value, o.ReconnectSeconds) || o.ReconnectSeconds < 1) {
            error = "--reconnect-for wants a number of seconds, not \"" + value + "\"";
            return false;
        }
    } else if (name == "--keep") {
        o.Keep = true;
    } else if (name == "--verbose") {
        o.Verbose = true;
    } else if (name == "--help") {
        o.Help = true;
    } else if (name == "--flash") {
        o.Flash = true;
    } else if (name == "--report") {
        o.Report = true;
    } else if (name == "--ucs2") {
        o.Ucs2 = true;
    } else if (name == "--json") {
        o.Json = true;
    } else {
        error = "unknown option " + name + " (see --help)";
        return false;
    }
    return true;
}

bool TakeCommand(const std::vector<std::string>& words, TGsmToolOptions& o, std::string& error) {
    if (words.empty()) {
        error = "no command given (identify, send, listen or at; see --help)";
        return false;
    }
    const std::string& c = words[0];
    const size_t want = c == "send" ? 3 : c == "at" ? 2 : 1;
    if (c == "identify")
        o.Command = TGsmToolOptions::Identify;
    else if (c == "send")
        o.Command = TGsmToolOptions::Send;
    else if (c == "listen")
        o.Command = TGsmToolOptions::Listen;
    else if (c == "at")
        o.Command = TGsmToolOptions::At;
    else {
        error = "unknown command \"" + c + "\" (identify, send, listen or at; see --help)";
        return false;
    }
    if (words.size() != want) {
        error = c == "send" ? "send wants a NUMBER and a TEXT"
                : c == "at" ? "at wants one COMMAND (quote it when it holds blanks)"
                            : c + " takes no words after it";
        return false;
    }
    if (o.Command == TGsmToolOptions::Send) {
        o.Number = words[1];
        o.Text = words[2];
    }
    if (o.Command == TGsmToolOptions::At) o.AtCommand = words[1];
    return true;
}

// Options that belong to one command only are refused with the others.
bool OptionsFitTheCommand(const TGsmToolOptions& o, std::string& error) {
    const bool sendOnly = o.Flash || o.Report || o.Ucs2 || o.MergeMax > 0;
    const bool listenOnly = o.Json || o.Seconds > 0 || o.Keep;
    if (sendOnly && o.Command != TGsmToolOptions::Send)
        error = "--flash, --report, --ucs2 and --merge-max go with send only";
    else if (o.HasKey && o.Command != TGsmToolOptions::Send && o.Command != TGsmToolOptions::Listen)
        error = "--key goes with send and listen only";
    else if (listenOnly && o.Command != TGsmToolOptions::Listen)
        error = "--seconds, --json and --keep go with listen only";
    else if (o.Port.empty())
        error = "no port given (--port PORT)";
    return error.empty();
}

}  // namespace

bool ParseGsmToolOptions(const std::vector<std::string>& args, TGsmToolOptions& o,
                         std::string& error) {
    std::vector<std::string> words;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-' || a[1] != '-') {
            words.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        std::string value;
        if (TakesValue(name)) {
            if (eq != std::string::npos) {
                value = a.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                error = name + " wants a value";
                return false;
            }
        } else if (eq != std::string::npos) {
            error = name + " takes no value";
            return false;
        }
        if (!ApplyOption(name, value, o, error)) return false;
    }
    if (o.Help) return true;
    return TakeCommand(words, o, error) && OptionsFitTheCommand(o, error);
}
