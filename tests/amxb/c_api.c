/* The public headers are plain C: this file only compiles if they are. */
#include <string.h>

#include <amxb/amxb.h>
#include <amxc/amxc.h>
#include <amxj/amxj.h>

int c_api_round_trip(void) {
    amxc_var_t value;
    amxc_string_t text;
    int ok = 0;
    amxc_var_init(&value);
    amxc_string_init(&text, 0);
    when_failed(amxj_read(&value, "{\"a\": [1, true]}", 16, NULL, 0), exit);
    when_failed(amxj_write(&value, &text, false), exit);
    ok = strcmp(amxc_string_get(&text, 0), "{\"a\":[1,true]}") == 0 && strcmp(amxb_last_error(NULL), "") == 0 &&
         amxb_be_who_has(NULL) == NULL;
exit:
    amxc_string_clean(&text);
    amxc_var_clean(&value);
    return ok;
}
