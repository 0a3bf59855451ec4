/* The public headers used from C, the way C callers write it: guard macros,
 * loops and typed accessors. Called from test_c_api.cpp. */
#include <amxc/amxc.h>

#include <stdlib.h>
#include <string.h>

int c_api_sum_of_ports(const char* csv, char** joined_out);

/* Converts "80, 443,..." to a list, sums its integers, and joins the texts
 * back with ';'. -1 on any error. */
int c_api_sum_of_ports(const char* csv, char** joined_out) {
    int sum = -1;
    amxc_var_t text;
    amxc_var_t list;
    amxc_string_t joined;
    amxc_llist_t pieces;
    amxc_var_init(&text);
    amxc_var_init(&list);
    amxc_string_init(&joined, 0);
    amxc_llist_init(&pieces);

    when_str_empty(csv, exit);
    when_failed(amxc_var_set(csv_string_t, &text, csv), exit);
    when_failed(amxc_var_convert(&list, &text, AMXC_VAR_ID_LIST), exit);
    sum = 0;
    amxc_var_for_each(port, &list) {
        amxc_string_t* piece = NULL;
        sum += amxc_var_dyncast(int32_t, port);
        when_failed(amxc_string_new(&piece, 0), exit);
        amxc_string_set(piece, amxc_var_constcast(cstring_t, port));
        amxc_llist_append(&pieces, &piece->it);
    }
    when_failed(amxc_string_join_llist(&joined, &pieces, ';'), exit);
    *joined_out = amxc_string_take_buffer(&joined);

exit:
    amxc_llist_clean(&pieces, amxc_string_list_it_free);
    amxc_string_clean(&joined);
    amxc_var_clean(&list);
    amxc_var_clean(&text);
    return sum;
}
