#ifndef TESTS_NFTABLES_TOPOLOGY_H
#define TESTS_NFTABLES_TOPOLOGY_H

#include <string>

namespace nfttest {

// The client, router and server namespaces of netns-topology.sh (see its header for the
// addresses), made for one test under a unique prefix and removed by the destructor.
class Topology {
public:
    Topology();
    ~Topology();
    Topology(const Topology&) = delete;
    Topology& operator=(const Topology&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    std::string client() const { return prefix_ + "-client"; }
    std::string router() const { return prefix_ + "-router"; }
    std::string server() const { return prefix_ + "-server"; }

    // Whether a TCP connection from the client to a listener on the server at
    // address:port comes up within a second.
    bool tcp(const std::string& address, int port) const;

    // Whether the client gets an echo reply from `address` within a second.
    bool ping(const std::string& address) const;

private:
    std::string prefix_;
    std::string error_;
    bool ok_ = false;
};

// Why the packet tests cannot run here ("" when they can): socat or ping missing.
const std::string& packet_tools_missing();

}  // namespace nfttest

#endif  // TESTS_NFTABLES_TOPOLOGY_H
