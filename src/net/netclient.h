// The connection settings every protocol client carries.
#pragma once

#include <cstdint>
#include <string>

class TNetClient {
public:
    virtual ~TNetClient() = default;

    const std::string& TargetHost() const { return FTargetHost; }
    void SetTargetHost(const std::string& v) { FTargetHost = v; }
    const std::string& TargetPort() const { return FTargetPort; }
    void SetTargetPort(const std::string& v) { FTargetPort = v; }
    const std::string& IPInterface() const { return FIPInterface; }
    void SetIPInterface(const std::string& v) { FIPInterface = v; }
    int32_t Timeout() const { return FTimeout; }
    void SetTimeout(int32_t ms) { FTimeout = ms; }
    const std::string& UserName() const { return FUserName; }
    void SetUserName(const std::string& v) { FUserName = v; }
    const std::string& Password() const { return FPassword; }
    void SetPassword(const std::string& v) { FPassword = v; }

protected:
    std::string FTargetHost = "127.0.0.1";
    std::string FTargetPort = "0";
    std::string FIPInterface = "0.0.0.0";
    int32_t FTimeout = 5000;
    std::string FUserName, FPassword;
};
