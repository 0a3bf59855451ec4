#ifndef NETWORKOBJECT_RULE_CHECK_H
#define NETWORKOBJECT_RULE_CHECK_H

/* The address values of one Rule instance as they are about to be stored ("" when empty). */

#include <string>

struct netobj_rule_values_t {
    std::string type;
    std::string source_ip;
    std::string source_ip_range_max;
    std::string source_mask;
};

/* Why the values may not be stored, in one line; "" when they may. Empty values are allowed:
 * the rule is then incomplete and selects nothing. */
std::string netobj_rule_refusal(const netobj_rule_values_t& rule);

#endif
