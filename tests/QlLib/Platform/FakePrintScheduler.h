// A print scheduler on a loopback port that speaks just enough HTTP and IPP
// for the printer tests: it names its printers and the default one, takes
// jobs, and keeps what it was sent so that tests can look at it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "QlLib/Platform/qlPrinter.h"
#include "TestFolder.h"

namespace ql::test {

// A scheduler address where nothing listens: a local socket that is not there.
inline TPrintServer Nowhere(const TTestFolder& folder) {
    TPrintServer server;
    server.Address = folder.WideFile("cups.sock");
    return server;
}

// The scheduler (fake or silent) on a loopback port.
inline TPrintServer LoopbackServer(int32_t port) {
    TPrintServer server;
    server.Address = u"127.0.0.1";
    server.Port = port;
    return server;
}

class TFakePrintScheduler {
public:
    struct TPrinter {
        std::string Name, Info;
    };
    struct TJob {
        int32_t Id = 0;
        std::string Printer;
        // Every attribute of the job's requests; several values joined by ",".
        std::map<std::string, std::string> Attributes;
        std::string Document;
    };

    TFakePrintScheduler(std::vector<TPrinter> printers, std::string defaultName)
        : m_printers(std::move(printers)), m_default(std::move(defaultName)) {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 ||
            ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 8) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { Accept(); });
    }
    ~TFakePrintScheduler() {
        m_stop = true;
        if (m_acceptor.joinable()) m_acceptor.join();
        for (std::thread& connection : m_connections) connection.join();
        if (m_listener >= 0) ::close(m_listener);
    }
    TFakePrintScheduler(const TFakePrintScheduler&) = delete;
    TFakePrintScheduler& operator=(const TFakePrintScheduler&) = delete;

    int32_t Port() const { return m_port; }
    void SetPrinters(std::vector<TPrinter> printers) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_printers = std::move(printers);
    }
    std::vector<TJob> Jobs() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_jobs;
    }

private:
    // A poll that gives up now and then to look at the stop flag.
    bool WaitReadable(int fd) {
        while (!m_stop) {
            pollfd p{fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, 50);
            if (ready > 0) return true;
            if (ready < 0) return false;
        }
        return false;
    }

    void Accept() {
        while (WaitReadable(m_listener)) {
            const int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd < 0) continue;
            m_connections.emplace_back([this, fd] {
                Serve(fd);
                ::close(fd);
            });
        }
    }

    // Reads until `buffer` holds `count` bytes; false when the peer is gone.
    bool Fill(int fd, std::string& buffer, size_t count) {
        while (buffer.size() < count) {
            if (!WaitReadable(fd)) return false;
            char chunk[4096];
            const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
            if (got <= 0) return false;
            buffer.append(chunk, size_t(got));
        }
        return true;
    }
    bool FillLine(int fd, std::string& buffer, size_t from, size_t& end) {
        while ((end = buffer.find("\r\n", from)) == std::string::npos) {
            if (!Fill(fd, buffer, buffer.size() + 1)) return false;
        }
        return true;
    }
    static void Send(int fd, const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t done = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (done <= 0) return;
            sent += size_t(done);
        }
    }

    void Serve(int fd) {
        std::string buffer;
        for (;;) {
            size_t headerEnd;
            while ((headerEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
                if (!Fill(fd, buffer, buffer.size() + 1)) return;
            }
            std::string headers = buffer.substr(0, headerEnd + 2);
            buffer.erase(0, headerEnd + 4);
            for (char& c : headers) c = char(std::tolower(static_cast<unsigned char>(c)));
            if (headers.find("expect: 100-continue") != std::string::npos)
                Send(fd, "HTTP/1.1 100 Continue\r\n\r\n");
            std::string body;
            if (headers.find("transfer-encoding: chunked") != std::string::npos) {
                for (;;) {
                    size_t lineEnd;
                    if (!FillLine(fd, buffer, 0, lineEnd)) return;
                    const size_t size =
                        std::strtoul(buffer.substr(0, lineEnd).c_str(), nullptr, 16);
                    buffer.erase(0, lineEnd + 2);
                    if (!Fill(fd, buffer, size + 2)) return;
                    body.append(buffer, 0, size);
                    buffer.erase(0, size + 2);
                    if (size == 0) break;
                }
            } else {
                const size_t at = headers.find("content-length:");
                const size_t length = at == std::string::npos
                                          ? 0
                                          : std::strtoul(headers.c_str() + at + 15, nullptr, 10);
                if (!Fill(fd, buffer, length)) return;
                body = buffer.substr(0, length);
                buffer.erase(0, length);
            }
            const std::string answer = Answer(body);
            Send(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\nContent-Length: " +
                         std::to_string(answer.size()) + "\r\n\r\n" + answer);
        }
    }

    struct TRequest {
        uint16_t Operation = 0;
        uint32_t Id = 0;
        std::map<std::string, std::string> Attributes;
        std::string Document;
    };

    static uint32_t Big(const std::string& s, size_t at, size_t count) {
        uint32_t value = 0;
        for (size_t i = 0; i < count && at + i < s.size(); ++i)
            value = value << 8 | uint8_t(s[at + i]);
        return value;
    }

    static TRequest Parse(const std::string& body) {
        TRequest request;
        if (body.size() < 9) return request;
        request.Operation = uint16_t(Big(body, 2, 2));
        request.Id = Big(body, 4, 4);
        size_t at = 8;
        std::string name;
        while (at < body.size()) {
            const uint8_t tag = uint8_t(body[at++]);
            if (tag == 0x03) break;    // end of attributes: the document follows
            if (tag < 0x10) continue;  // the start of a group
            const size_t nameLength = Big(body, at, 2);
            at += 2;
            if (nameLength) name = body.substr(at, nameLength);
            at += nameLength;
            const size_t valueLength = Big(body, at, 2);
            at += 2;
            std::string value = body.substr(at, valueLength);
            at += valueLength;
            if (tag == 0x21 || tag == 0x23) value = std::to_string(int32_t(Big(value, 0, 4)));
            if (tag == 0x22) value = value == std::string(1, '\1') ? "true" : "false";
            std::string& slot = request.Attributes[name];
            slot = nameLength || slot.empty() ? value : slot + "," + value;
        }
        if (at <= body.size()) request.Document = body.substr(at);
        return request;
    }

    static void Attribute(std::string& out, uint8_t tag, const std::string& name,
                          const std::string& value) {
        out += char(tag);
        out += char(name.size() >> 8);
        out += char(name.size());
        out += name;
        out += char(value.size() >> 8);
        out += char(value.size());
        out += value;
    }
    static std::string Int(int32_t v) {
        return {char(uint32_t(v) >> 24), char(uint32_t(v) >> 16), char(uint32_t(v) >> 8), char(v)};
    }
    void PrinterGroup(std::string& out, const TPrinter& printer) const {
        out += '\x04';
        Attribute(out, 0x42, "printer-name", printer.Name);
        Attribute(out, 0x41, "printer-info", printer.Info);
        Attribute(out, 0x45, "printer-uri-supported", "ipp://localhost/printers/" + printer.Name);
        Attribute(out, 0x45, "device-uri", "ipp://localhost/printers/" + printer.Name);
        Attribute(out, 0x23, "printer-type", Int(0x1004));
        Attribute(out, 0x23, "printer-state", Int(3));
        Attribute(out, 0x22, "printer-is-accepting-jobs", std::string(1, '\1'));
    }

    std::string Answer(const std::string& body) {
        const TRequest request = Parse(body);
        uint16_t status = 0;
        std::string groups;
        std::lock_guard<std::mutex> guard(m_lock);
        switch (request.Operation) {
            case 0x4001:  // the default destination
                status = 0x0406;
                for (const TPrinter& printer : m_printers) {
                    if (printer.Name != m_default) continue;
                    PrinterGroup(groups, printer);
                    status = 0;
                }
                break;
            case 0x4002:  // every destination
                for (const TPrinter& printer : m_printers) PrinterGroup(groups, printer);
                break;
            case 0x000B: {  // one printer's attributes
                status = 0x0406;
                const std::string uri = request.Attributes.count("printer-uri")
                                            ? request.Attributes.at("printer-uri")
                                            : "";
                for (const TPrinter& printer : m_printers) {
                    if (uri.size() < printer.Name.size() ||
                        uri.substr(uri.size() - printer.Name.size()) != printer.Name)
                        continue;
                    PrinterGroup(groups, printer);
                    status = 0;
                }
                break;
            }
            case 0x0002:    // a job with its document
            case 0x0005:    // a job whose document follows
            case 0x0006: {  // the document of a job
                TJob* job = nullptr;
                if (request.Operation == 0x0006) {
                    const int32_t id = std::atoi(request.Attributes.count("job-id")
                                                     ? request.Attributes.at("job-id").c_str()
                                                     : "0");
                    for (TJob& known : m_jobs) job = known.Id == id ? &known : job;
                } else {
                    m_jobs.emplace_back();
                    job = &m_jobs.back();
                    job->Id = int32_t(m_jobs.size());
                    const std::string uri = request.Attributes.count("printer-uri")
                                                ? request.Attributes.at("printer-uri")
                                                : "";
                    job->Printer = uri.substr(uri.find_last_of('/') + 1);
                }
                if (!job) {
                    status = 0x0406;
                    break;
                }
                for (const auto& [name, value] : request.Attributes) job->Attributes[name] = value;
                job->Document += request.Document;
                groups += '\x02';
                Attribute(groups, 0x21, "job-id", Int(job->Id));
                Attribute(groups, 0x45, "job-uri",
                          "ipp://localhost/jobs/" + std::to_string(job->Id));
                Attribute(groups, 0x23, "job-state", Int(3));
                break;
            }
            default:
                status = 0x0501;
        }
        std::string out = {'\x02', '\x00', char(status >> 8), char(status)};
        out += Int(int32_t(request.Id));
        out += '\x01';
        Attribute(out, 0x47, "attributes-charset", "utf-8");
        Attribute(out, 0x48, "attributes-natural-language", "en");
        return out + groups + '\x03';
    }

    std::vector<TPrinter> m_printers;
    std::string m_default;
    int m_listener = -1;
    int32_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_acceptor;
    std::vector<std::thread> m_connections;  // touched by the acceptor only, then joined
    std::mutex m_lock;                       // guards m_printers and m_jobs
    std::vector<TJob> m_jobs;
};

inline TPrintServer At(const TFakePrintScheduler& scheduler) {
    return LoopbackServer(scheduler.Port());
}

}  // namespace ql::test
