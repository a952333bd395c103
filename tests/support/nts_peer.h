// Real peers for authenticated time: a throw-away certificate authority made with the
// openssl tool, and chrony serving NTS on loopback with a certificate from it. chronyd -x
// never touches this machine's clock.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace nts_peer {

inline bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

// A port free on address now, for TCP or UDP, for a server about to bind it.
inline uint16_t FreePort(const std::string& address, int type) {
    const int fd = socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

// A directory with ca.pem and a server certificate (server.pem, server.key) for the
// loopback addresses given and "localhost"; removed with the object.
class TTestCa {
public:
    explicit TTestCa(const std::string& addresses = "127.0.0.1") {
        char dir[] = "/tmp/tiktaal-ntscaXXXXXX";
        if (!mkdtemp(dir)) return;
        Dir = dir;
        std::string san = "subjectAltName=DNS:localhost";
        size_t start = 0;
        while (start <= addresses.size()) {
            const size_t comma = addresses.find(',', start);
            san += ",IP:" + addresses.substr(start, comma - start);
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        std::ofstream(Dir + "/ext.cnf") << san << "\nbasicConstraints=CA:FALSE\n";
        const std::string q = " >/dev/null 2>&1";
        Ok = Run("cd " + Dir +
                 " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
                 " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Tiktaal test CA'" + q +
                 " && openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
                 " -keyout server.key -out server.csr -subj '/CN=localhost'" + q +
                 " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
                 " -out server.pem -days 2 -extfile ext.cnf" + q +
                 // A second authority that trusts nothing of the above.
                 " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
                 " -keyout other.key -out other.pem -days 2 -subj '/CN=Other CA'" + q);
        // chronyd reads the key after it has dropped root for its own user.
        if (Ok) Ok = Run("chmod 755 " + Dir + " && chmod 644 " + Dir + "/*");
    }
    ~TTestCa() {
        if (!Dir.empty()) Run("rm -rf " + Dir);
    }
    TTestCa(const TTestCa&) = delete;
    TTestCa& operator=(const TTestCa&) = delete;

    std::string CaFile() const { return Dir + "/ca.pem"; }
    std::string OtherCaFile() const { return Dir + "/other.pem"; }
    std::string CertFile() const { return Dir + "/server.pem"; }
    std::string KeyFile() const { return Dir + "/server.key"; }

    std::string Dir;
    bool Ok = false;
};

// chronyd serving NTS: key exchange on KePort and NTP on NtpPort of Address. With
// ntpServer set, the key exchange sends clients to that host instead (for a relay).
class TChronyNts {
public:
    TChronyNts(const TTestCa& ca, const std::string& address, const std::string& ntpServer = "")
        : Address(address) {
        if (!ca.Ok || !Run("command -v chronyd >/dev/null 2>&1")) return;
        static int instances = 0;
        Dir = ca.Dir + "/chrony-" + std::to_string(++instances);
        Run("mkdir -p " + Dir + " && chmod 777 " + Dir);
        KePort = FreePort(address, SOCK_STREAM);
        NtpPort = FreePort(address, SOCK_DGRAM);
        std::ofstream conf(Dir + "/chrony.conf");
        conf << "port " << NtpPort << "\nbindaddress " << address
             << "\nallow 127.0.0.0/8\nlocal stratum 8\ncmdport 0\npidfile " << Dir
             << "/chronyd.pid\ndriftfile " << Dir << "/drift\nntsdumpdir " << Dir
             << "\nntsserverkey " << ca.KeyFile() << "\nntsservercert " << ca.CertFile()
             << "\nntsport " << KePort << "\n";
        if (!ntpServer.empty()) conf << "ntsntpserver " << ntpServer << "\n";
        conf.close();
        if (!Run("chronyd -x -f " + Dir + "/chrony.conf")) return;
        for (int i = 0; i < 250 && Pid <= 0; ++i) {
            std::ifstream pid(Dir + "/chronyd.pid");
            if (!(pid >> Pid)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~TChronyNts() {
        if (Pid > 0) kill(Pid, SIGTERM);
        for (int i = 0; i < 100 && Pid > 0 && kill(Pid, 0) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    TChronyNts(const TChronyNts&) = delete;
    TChronyNts& operator=(const TChronyNts&) = delete;

    bool Running() const { return Pid > 0; }
    std::string Url() const { return "nts://" + Address + ":" + std::to_string(KePort); }

    std::string Address, Dir;
    uint16_t KePort = 0, NtpPort = 0;
    int Pid = 0;
};
}  // namespace nts_peer
