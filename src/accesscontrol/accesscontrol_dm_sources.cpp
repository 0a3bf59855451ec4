// Source address gathering: NetworkGroupRef to a list of source addresses.
#define ME "networksettings"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <amxb/amxb.h>
#include <amxc/amxc.h>
#include <amxp/amxp_loop.h>
#include <zebtrace/zebtrace.h>
#include <zebtrace/zebtrace_macros.h>

#include "accesscontrol/accesscontrol_dm.h"
#include "networksettings-qk.h"
#include "networksettings-qk_utils.h"

namespace {

constexpr std::string_view hosts_prefix = "Hosts.Host.";
constexpr std::string_view ipaddress_str = "IPAddress:";
constexpr std::string_view ipsubnet_str = "IPSubnet:";
constexpr std::string_view iprange_str = "IPRange:";
constexpr int BUS_TIMEOUT_SEC = 5;

void add_source(amxc_var_t* ret, const char* ip, const char* mask) {
    // A group of thousands of sources is gathered while other clients may still read.
    amxp_loop_slice_point();
    amxc_var_t* source = amxc_var_add_new_htable(ret);
    amxc_var_add_key(cstring_t, source, "SourceIP", ip);
    if(mask != nullptr) {
        amxc_var_add_key(cstring_t, source, "SourceMask", mask);
    }
}

// The reference without the trailing "." a client may have written, so that the address
// tables are found under it either way.
std::string host_object_path(const char* path) {
    std::string object(path);
    if(!object.empty() && object.back() == '.') {
        object.pop_back();
    }
    return object;
}

// Appends the addresses of one address table of the host; the result of the bus read.
int append_host_addresses(const char* path, int version, amxc_var_t* ret, bool* stop) {
    amxc_var_t reply;
    amxc_var_init(&reply);
    amxc_string_t query;
    amxc_string_init(&query, 0);
    amxc_string_setf(&query, "%s.IPv%dAddress.", host_object_path(path).c_str(), version);

    const amxc_var_t* objects = nullptr;
    const int rv = amxb_get(amxb_be_who_has("Hosts."), amxc_string_get(&query, 0), 0, &reply, BUS_TIMEOUT_SEC);
    if(rv != 0) {
        zebTrace(TRACE_LEVEL_WARNING, "Could not get %s object", path);
        goto exit;
    }
    if(amxc_var_type_of(&reply) != AMXC_VAR_ID_LIST) {
        zebTrace(TRACE_LEVEL_ERROR, "Hosts values result is not type AMXC_VAR_ID_LIST");
        *stop = true;
        goto exit;
    }
    objects = amxc_var_get_index(&reply, 0, AMXC_VAR_FLAG_DEFAULT);
    if(amxc_var_type_of(objects) != AMXC_VAR_ID_HTABLE) {
        zebTrace(TRACE_LEVEL_ERROR, "Hosts values result variant index 0 is not type AMXC_VAR_ID_HTABLE");
        *stop = true;
        goto exit;
    }
    amxc_var_for_each(address, objects) {
        const char* ip = amxc_var_constcast(cstring_t, amxc_var_get_key(address, "IPAddress", AMXC_VAR_FLAG_DEFAULT));
        if(ip != nullptr) {
            add_source(ret, ip, nullptr);
        }
    }
exit:
    amxc_string_clean(&query);
    amxc_var_clean(&reply);
    return rv;
}

// Dotted text of an address in host byte order, into `text` (INET_ADDRSTRLEN bytes) by hand:
// inet_ntop formats through printf, a tenth of a rebuild of a range of 65,536 addresses.
void format_ipv4(uint32_t address, char* text) {
    char* end = text;
    for(int shift = 24; shift >= 0; shift -= 8) {
        end = std::to_chars(end, text + INET_ADDRSTRLEN - 1, (address >> shift) & 0xFFU).ptr;
        *end++ = shift > 0 ? '.' : '\0';
    }
}

// Addresses in host byte order, from dotted text.
bool parse_ipv4(const char* text, uint32_t* address) {
    struct in_addr addr {};
    if(inet_pton(AF_INET, text, &addr) != 1) {
        return false;
    }
    *address = ntohl(addr.s_addr);
    return true;
}

void add_network_object_entry(amxc_var_t* ret, std::string_view entry) {
    if(entry.empty()) {
        return;  // an empty item between separators selects nothing
    }
    if(entry.starts_with(ipaddress_str)) {
        const std::string ip(entry.substr(ipaddress_str.size()));
        add_source(ret, ip.c_str(), nullptr);
    } else if(entry.starts_with(ipsubnet_str)) {
        const std::string_view rest = entry.substr(ipsubnet_str.size());
        const size_t slash = rest.find('/');
        if(slash == std::string_view::npos) {
            zebTrace(TRACE_LEVEL_WARNING, "%.*s has no prefix", static_cast<int>(entry.size()), entry.data());
            return;
        }
        const std::string ip(rest.substr(0, slash));
        const std::string mask(rest.substr(slash + 1));
        add_source(ret, ip.c_str(), mask.c_str());
    } else if(entry.starts_with(iprange_str)) {
        const std::string_view rest = entry.substr(iprange_str.size());
        const size_t dash = rest.find('-');
        if(dash == std::string_view::npos) {
            zebTrace(TRACE_LEVEL_WARNING, "%.*s has no range end", static_cast<int>(entry.size()), entry.data());
            return;
        }
        const std::string start(rest.substr(0, dash));
        const std::string end(rest.substr(dash + 1));
        convert_ip_range_to_csv(ret, start.c_str(), end.c_str());
    } else {
        zebTrace(TRACE_LEVEL_WARNING, "%.*s is not supported", static_cast<int>(entry.size()), entry.data());
    }
}

} // namespace

extern "C" {

bool accesscontrol_is_hosts_path(const char* path) {
    return path != nullptr && std::string_view(path).starts_with(hosts_prefix);
}

amxd_status_t accesscontrol_get_networkobjectref_parameters(amxd_object_t* object, amxc_var_t* ret) {
    amxd_status_t status = amxd_status_unknown_error;
    char* ref = nullptr;
    when_null(object, exit);
    when_null(ret, exit);
    ref = amxd_object_get_cstring_t(object, "NetworkGroupRef", nullptr);
    when_null_trace(ref, exit, TRACE_LEVEL_ERROR, "fail to get NetworkGroupRef value");
    amxc_var_set_type(ret, AMXC_VAR_ID_LIST);
    status = accesscontrol_is_hosts_path(ref) ?
        accesscontrol_get_hosts_parameters(ref, ret) :
        accesscontrol_get_networkobject_parameters(ref, ret);
exit:
    free(ref);
    return status;
}

amxd_status_t accesscontrol_get_hosts_parameters(const char* path, amxc_var_t* ret) {
    int rv = -1;
    bool stop = false;
    // IPv6 first, then IPv4; the result of the last read made decides.
    for(int version : {6, 4}) {
        rv = append_host_addresses(path, version, ret, &stop);
        if(stop) {
            break;
        }
    }
    if(rv != 0) {
        accesscontrol_set_reason("NetworkGroupRef %s not found", path);
    }
    return rv == 0 ? amxd_status_ok : amxd_status_unknown_error;
}

amxd_status_t accesscontrol_get_networkobject_parameters(const char* path, amxc_var_t* ret) {
    amxd_status_t status = amxd_status_unknown_error;
    amxd_object_t* network_object = nullptr;
    const amxc_var_t* ip_list = nullptr;
    amxc_var_t entries;
    amxc_var_init(&entries);

    if((path == nullptr) || (path[0] == '\0')) {
        add_source(ret, "", nullptr);
        status = amxd_status_ok;
        goto exit;
    }
    network_object = amxd_dm_findf(networksettings_get_dm(), "%s", path);
    if(network_object == nullptr) {
        zebTrace(TRACE_LEVEL_ERROR, "%s object not found", path);
        accesscontrol_set_reason("NetworkGroupRef %s not found", path);
        goto exit;
    }
    ip_list = amxd_object_get_param_value(network_object, "NetworkObjectIPList");
    if(ip_list == nullptr) {
        accesscontrol_set_reason("NetworkGroupRef %s is not a NetworkObject", path);
        char* text = amxd_object_get_cstring_t(network_object, "NetworkObjectIPList", nullptr);
        zebTrace(TRACE_LEVEL_ERROR, "%sNetworkObjectIPList empty %s", path, text == nullptr ? "(null)" : text);
        free(text);
        goto exit;
    }
    when_failed(amxc_var_convert(&entries, ip_list, AMXC_VAR_ID_LIST), exit);
    amxc_var_for_each(entry, &entries) {
        const char* text = amxc_var_constcast(cstring_t, entry);
        add_network_object_entry(ret, text == nullptr ? "" : text);
    }
    status = amxd_status_ok;
exit:
    amxc_var_clean(&entries);
    return status;
}

bool convert_ip_range_to_csv(amxc_var_t* ret, const char* ip_start, const char* ip_end) {
    uint32_t first = 0;
    uint32_t last = 0;
    if((check_is_valid_ip(ip_start) != 4) || (check_is_valid_ip(ip_end) != 4)) {
        return false;
    }
    // The IPv4 pattern admits leading zeros ("010.0.0.1") that inet_pton refuses.
    if(!parse_ipv4(ip_start, &first) || !parse_ipv4(ip_end, &last)) {
        zebTrace(TRACE_LEVEL_WARNING, "IPRange:%s-%s is not a valid range", ip_start, ip_end);
        return false;
    }
    if(last < first) {
        zebTrace(TRACE_LEVEL_WARNING, "IPRange:%s-%s ends before it starts", ip_start, ip_end);
        return false;
    }
    if(last - first >= ACCESSCONTROL_MAX_RANGE_ADDRESSES) {
        zebTrace(TRACE_LEVEL_WARNING, "IPRange:%s-%s holds more than %u addresses, refused",
                 ip_start, ip_end, ACCESSCONTROL_MAX_RANGE_ADDRESSES);
        return false;
    }
    add_source(ret, ip_start, nullptr);
    for(uint32_t address = first; address != last;) {
        address++;
        char text[INET_ADDRSTRLEN] = {};
        format_ipv4(address, text);
        add_source(ret, text, nullptr);
    }
    return true;
}

} // extern "C"
