#pragma once
// A test CA and server certificates, made once per process with the openssl command in a
// folder outside the test root (which is emptied after every case), removed at exit:
// "good" for IP 127.0.0.2, 127.0.0.1 and "localhost"; "othername" for another name; "expired";
// "rogue", self-signed outside the CA. Each is "<name>.crt" and "<name>.key"; the CA "ca.crt".
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace qvr_test {

struct CertificateFolder {
    std::filesystem::path path;
    CertificateFolder() {
        char name[] = "/tmp/qvr-tls-certificates.XXXXXX";
        if (mkdtemp(name) != nullptr) path = name;
    }
    ~CertificateFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    CertificateFolder(const CertificateFolder&) = delete;
    CertificateFolder& operator=(const CertificateFolder&) = delete;
    std::filesystem::path operator/(const std::string& name) const { return path / name; }
    std::string str() const { return path.string(); }
};

struct Certificates {
    CertificateFolder dir;
    std::string path(const std::string& name) const { return (dir / name).string(); }

    void run(const std::string& command) const {
        const std::string line = "cd '" + dir.str() + "' && " + command + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(line.c_str()), 0) << command;
    }
    // A key and a certificate "<name>.crt" signed by the CA, valid for `san`.
    void issue(const std::string& name, const std::string& san, const std::string& days = "30") const {
        run("openssl req -newkey rsa:2048 -nodes -keyout " + name + ".key -subj /CN=" + name + " -out " + name +
            ".csr");
        write_file(dir / (name + ".ext"), "subjectAltName=" + san + "\n");
        run("openssl x509 -req -in " + name + ".csr -CA ca.crt -CAkey ca.key -CAcreateserial -days " + days +
            " -extfile " + name + ".ext -out " + name + ".crt");
    }
    Certificates() {
        run("openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -subj /CN=TestCA -days 30 -out ca.crt");
        issue("good", "IP:127.0.0.2,DNS:localhost,IP:127.0.0.1");
        issue("othername", "DNS:other.example");
        // Expired: its end lies a day before its start.
        issue("expired", "IP:127.0.0.2", "-1");
        run("openssl req -x509 -newkey rsa:2048 -nodes -keyout rogue.key -subj /CN=rogue -days 30 "
            "-addext subjectAltName=IP:127.0.0.2 -out rogue.crt");
    }
};

inline const Certificates& certificates() {
    static const Certificates c;
    return c;
}

}  // namespace qvr_test
