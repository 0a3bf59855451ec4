/* Drives the firewall libraries from C, so that their headers are compiled as C11. */
#include <fwinterface/backend.h>
#include <fwinterface/interface.h>
#include <fwrules/fw_rule.h>

int insert_mac_accept_rule_from_c(uint32_t position);

/* An IPv4 accept rule for one MAC address (given in upper case), inserted at `position`
 * (not committed). */
int insert_mac_accept_rule_from_c(uint32_t position) {
    fw_rule_t* rule = NULL;
    int result = -1;
    if(fw_rule_new(&rule) != 0) {
        return -1;
    }
    if(fw_rule_set_table(rule, "filter") == 0 && fw_rule_set_chain(rule, "FORWARD_AccessControl_QK") == 0 &&
       fw_rule_set_ipv4(rule, true) == 0 && fw_rule_set_source_mac_address(rule, "01:23:45:67:89:AB") == 0 &&
       fw_rule_set_target_policy(rule, FW_RULE_POLICY_ACCEPT) == 0 && fw_rule_set_enabled(rule, true) == 0) {
        result = fw_add_rule(rule, position);
    }
    fw_rule_delete(&rule);
    return result;
}
