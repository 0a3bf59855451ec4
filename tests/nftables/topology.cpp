#include "topology.h"

#include "netns.h"

namespace nfttest {
namespace {

CommandResult script(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{NFT_TOPOLOGY_SCRIPT};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run_command(argv, std::chrono::seconds(30));
}

}  // namespace

Topology::Topology() : prefix_(unique_prefix()) {
    CommandResult made = script({"up", prefix_});
    ok_ = made.status == 0;
    if(!ok_) {
        error_ = "netns-topology.sh up " + prefix_ + ": " + made.output;
    }
}

Topology::~Topology() { script({"down", prefix_}); }

bool Topology::tcp(const std::string& address, int port) const {
    return script({"tcp", prefix_, address, std::to_string(port)}).status == 0;
}

bool Topology::ping(const std::string& address) const { return script({"ping", prefix_, address}).status == 0; }

const std::string& packet_tools_missing() {
    static const std::string missing = [] {
        for(const char* tool : {"socat", "ping", "ss", "timeout"}) {
            if(run_command({"sh", "-c", std::string("command -v ") + tool}).status != 0) {
                return std::string(tool) + " is not installed";
            }
        }
        return std::string();
    }();
    return missing;
}

}  // namespace nfttest
